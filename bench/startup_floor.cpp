// startup-floor
// The floor for the program's start: a bare frameless Qt Widgets window with the same controls,
// no picture, database or browser engine. Prints "paint NS KB" at its first paint and ends.
#include <unistd.h>

#include <cstdio>

#include <QApplication>
#include <QCursor>
#include <QPainter>

#include "bench/procstat.h"
#include "window/controls.h"

namespace {

class Floor : public QWidget
{
public:
    Floor() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
    {
        setFixedSize(500, 393);
        buildControls(this, m_controls, QCursor(Qt::PointingHandCursor));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), QColor(15, 55, 93));
        if (m_painted)
            return;
        m_painted = true;
        std::printf("paint %lld %lld\n", monotonicNs(), peakRssKb(getpid()));
        std::fflush(stdout);
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }

private:
    Controls m_controls;
    bool m_painted = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Floor floor;
    floor.show();
    return app.exec();
}
