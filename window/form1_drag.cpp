// Pulling the frameless window back onto the screen once it has been moved.
#include "window/form1.h"

#include <QGuiApplication>
#include <QScreen>

#include "window/pullback.h"

void Form1::pullBackOntoScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Window positions count from the primary screen's corner, in twips.
    const QRect full = screen->geometry();
    const QRect frame = frameGeometry();
    const auto twips = [](int pixels) { return float(pixels * kTwipsPerPixel); };
    const PullBack pull
        = pullBackRule(twips(full.width()), twips(full.height()), twips(frame.x() - full.x()),
            twips(frame.y() - full.y()), twips(frame.width()), twips(frame.height()));
    if (!pull.left && !pull.top)
        return;
    const auto pixels = [](float twips) { return qRound(twips / kTwipsPerPixel); };
    QPoint to = pos();
    if (pull.left)
        to.rx() = full.x() + pixels(*pull.left);
    if (pull.top)
        to.ry() = full.y() + pixels(*pull.top);
    move(to);
}
