// startup-probe DIR BANNER_URL MODULE
// The program as users start it, with its folder, banner address and engine module handed in
// ("-" for no module). Prints "paint NS KB" when the window is first painted (monotonic time,
// peak memory), then "banner NS KB BROWSER_KB" once the banner has loaded (BROWSER_KB: the
// proportional memory of the engine's own processes), and ends.
#include <unistd.h>

#include <cstdio>

#include <QApplication>

#include "bench/procstat.h"
#include "window/program.h"
#include "window/webbrowser.h"

namespace {

class Watcher : public QObject
{
public:
    explicit Watcher(bool waitForBanner) : m_waitForBanner(waitForBanner) { }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* form = qobject_cast<Form1*>(watched);
        if (event->type() == QEvent::Show && form && !m_hooked) {
            m_hooked = true;
            connect(form, &Form1::firstPainted, this, &Watcher::painted);
            connect(form->wb1, &WebBrowser::loadFinished, this, &Watcher::bannerLoaded);
        }
        return false;
    }

private:
    void painted()
    {
        std::printf("paint %lld %lld\n", monotonicNs(), peakRssKb(getpid()));
        std::fflush(stdout);
        if (!m_waitForBanner)
            QCoreApplication::quit();
    }

    void bannerLoaded()
    {
        long long browser = 0;
        for (pid_t child : descendants(getpid()))
            browser += pssKb(child);
        std::printf("banner %lld %lld %lld\n", monotonicNs(), peakRssKb(getpid()), browser);
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    bool m_waitForBanner;
    bool m_hooked = false;
};

} // namespace

int main(int argc, char* argv[])
{
    prepareProcess();
    QApplication app(argc, argv);
    if (argc != 4)
        return 2;
    Form1Services services;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    services.programDir = [dir] { return dir; };
    services.sites.banner = QString::fromLocal8Bit(argv[2]);
    const QString module = QString::fromLocal8Bit(argv[3]);
    services.bannerModule = module == u"-" ? QString() : module;
    Watcher watcher(!services.bannerModule.isEmpty());
    app.installEventFilter(&watcher);
    return runForm1(std::move(services));
}
