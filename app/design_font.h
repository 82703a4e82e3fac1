// The font the program's windows were designed with: "MS Sans Serif", 8 points. Where the system
// lacks it, the font system's nearest sans-serif face of that size stands in.
#pragma once

#include <QFont>

namespace app {

inline QFont DesignFont()
{
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace app
