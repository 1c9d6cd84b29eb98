// startup-probe DIR BANNER_URL
// The program as users start it, with its folder and banner address handed in ("-" for a blank
// strip). Prints "paint NS KB" at the window's first paint (monotonic time, peak memory),
// "banner NS" once the banner shows, and "memory KB" a second after both: the proportional set
// size of the program and every process it started. Then it ends.
#include <unistd.h>

#include <cstdio>

#include <QApplication>
#include <QTimer>

#include "bench/procstat.h"
#include "window/program.h"
#include "window/bannerview.h"

namespace {

class Watcher : public QObject
{
public:
    explicit Watcher(bool banner) : m_waiting(banner ? 2 : 1) { }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* form = qobject_cast<Form1*>(watched);
        if (event->type() == QEvent::Show && form && !m_hooked) {
            m_hooked = true;
            connect(form, &Form1::firstPainted, this, [] {
                std::printf("paint %lld %lld\n", monotonicNs(), peakRssKb(getpid()));
                std::fflush(stdout);
            });
            connect(form, &Form1::firstPainted, this, &Watcher::arrived);
            connect(form->bannerView, &QTextEdit::textChanged, this, [this, form] {
                if (m_bannerSeen || form->bannerView->toPlainText() == BannerView::neutralLine())
                    return;
                m_bannerSeen = true;
                std::printf("banner %lld\n", monotonicNs());
                std::fflush(stdout);
                arrived();
            });
        }
        return false;
    }

private:
    void arrived()
    {
        if (--m_waiting > 0)
            return;
        QTimer::singleShot(1000, [] {
            long long pss = pssKb(getpid());
            for (pid_t child : descendants(getpid()))
                pss += pssKb(child);
            std::printf("memory %lld\n", pss);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

    int m_waiting;
    bool m_hooked = false;
    bool m_bannerSeen = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    Form1Services services;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    services.programDir = [dir] { return dir; };
    const QString banner = QString::fromLocal8Bit(argv[2]);
    services.sites.banner = banner == u"-" ? QString() : banner;
    // Checks after the first paint go nowhere rather than to a service on the real address.
    services.sites.rdapBase = QStringLiteral("http://127.0.0.1:9/rdap/domain/");
    Watcher watcher(!services.sites.banner.isEmpty());
    app.installEventFilter(&watcher);
    return runForm1(std::move(services));
}
