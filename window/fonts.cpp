#include "fonts.h"

QStringList cjkFamilies()
{
    return {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
        QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Droid Sans Fallback")};
}

static QFont cjkFont(int pixels)
{
    QFont font;
    font.setFamilies(cjkFamilies());
    font.setPixelSize(pixels);
    font.setWeight(QFont::Normal);
    return font;
}

QFont standardFont()
{
    return cjkFont(12);
}

QFont closeFont()
{
    return cjkFont(19);
}
