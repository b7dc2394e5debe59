#include "Look.h"

#include <QtGlobal>

void PrepareLook() {
    // The icon is compiled into a static library, so its registration is made explicitly.
    static const bool done = [] {
        Q_INIT_RESOURCE(quorvel);
        return true;
    }();
    (void)done;
}
