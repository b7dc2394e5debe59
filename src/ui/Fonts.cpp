#include "Fonts.h"

#include <QFont>
#include <QStringList>

void UseChineseFontSubstitutes() {
    const QString family = QString::fromUtf8("宋体");
    if (!QFont::substitutes(family).isEmpty()) return;
    QFont::insertSubstitutions(
        family, {"SimSun", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC", "Noto Serif CJK SC",
                 "Droid Sans Fallback"});
}
