#include "Look.h"

#include <QFont>
#include <QStringList>
#include <QtGlobal>

void PrepareLook() {
    static const bool done = [] {
        // The icon is compiled into a static library, so its registration is made explicitly.
        Q_INIT_RESOURCE(quorvel);
        QFont::insertSubstitutions(QString::fromUtf8("宋体"),
                                   {"SimSun", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC",
                                    "Noto Serif CJK SC", "Droid Sans Fallback"});
        return true;
    }();
    (void)done;
}
