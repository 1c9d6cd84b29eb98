// testhost DIR WHOIS_BASE BANNER
// The program with its addresses and folder handed in, driven line by line from standard input:
//   click NAME | type TEXT | pick ROW (selects, no click) | list | watch-loop PREFIX
// It prints "shown" once the window is up, "error: …" for every message it would show,
// "stored TEXT" for every watched text the database took, and "dropped X Y" after every move
// of the window.
#include <unistd.h>

#include <cstdio>

#include <QApplication>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include "window/program.h"
#include "window/windowmover.h"

namespace {

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class Driver : public QObject
{
public:
    explicit Driver(Form1& form) : QObject(&form), m_form(form)
    {
        auto* input = new QSocketNotifier(0, QSocketNotifier::Read, this);
        connect(input, &QSocketNotifier::activated, this, &Driver::readLine);
        // After the window's own pull-back, which was connected first.
        auto* mover = form.findChild<WindowMover*>();
        connect(mover, &WindowMover::finished, this,
            [this] { say(QStringLiteral("dropped %1 %2").arg(m_form.x()).arg(m_form.y())); });
    }

    // Runs every whole line that has arrived on standard input.
    void readLine()
    {
        char buffer[4096];
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::exit(3);
            return;
        }
        m_pending.append(buffer, n);
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            run(line);
        }
    }

    void run(const QString& line)
    {
        const QString verb = line.section(u' ', 0, 0);
        const QString rest = line.section(u' ', 1);
        if (verb == u"click") {
            auto* control = m_form.findChild<QWidget*>(rest);
            QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        } else if (verb == u"type") {
            m_form.tb_url->setText(rest);
        } else if (verb == u"pick") {
            m_form.List1->setListIndex(rest.toInt());
        } else if (verb == u"list") {
            QStringList entries;
            for (int i = 0; i < m_form.List1->model()->rowCount(); ++i)
                entries << m_form.List1->List(i);
            say(QStringLiteral("list ") + entries.join(u'|'));
        } else if (verb == u"watch-loop") {
            m_prefix = rest;
            QTimer::singleShot(0, this, &Driver::watchOnce);
        }
    }

    void watchOnce()
    {
        const QString text = m_prefix + QString::number(m_next++);
        m_form.tb_url->setText(text);
        const int errorsBefore = errors;
        QTest::mouseClick(m_form.Command2, Qt::LeftButton, {}, m_form.Command2->rect().center());
        if (errors == errorsBefore)
            say(QStringLiteral("stored ") + text);
        QTimer::singleShot(0, this, &Driver::watchOnce);
    }

    static inline int errors = 0;

private:
    Form1& m_form;
    QByteArray m_pending;
    QString m_prefix;
    int m_next = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    Form1Services services;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    services.programDir = [dir] { return dir; };
    services.sites.whoisBase = QString::fromLocal8Bit(argv[2]);
    services.sites.banner = QString::fromLocal8Bit(argv[3]);
    services.sites.home = QStringLiteral("http://127.0.0.1:9/");
    services.reportError = [](QWidget*, const QString& message) {
        ++Driver::errors;
        say(QStringLiteral("error: ") + QString(message).replace(u'\n', u' '));
    };
    services.openBrowser = [](const QString& url) {
        say(QStringLiteral("opened ") + url);
        return true;
    };
    // Once the window is up, hand it to the driver.
    QTimer::singleShot(0, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<Form1*>(window)) {
                new Driver(*form);
                say(QStringLiteral("shown"));
            }
        }
    });
    return runForm1(std::move(services));
}
