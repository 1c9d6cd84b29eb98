#pragma once

#include <QFont>
#include <QStringList>

// Font families for the Chinese texts, SimSun first, then the CJK fonts Linux desktops carry.
QStringList cjkFamilies();
// 9-point text at 96 dpi (12 px), the size the window's geometry was laid out for.
QFont standardFont();
// The close label's 14.25-point (19 px) font.
QFont closeFont();
