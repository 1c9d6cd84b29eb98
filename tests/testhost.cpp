// testhost DIR WHOIS_BASE BANNER
// The program with its addresses and folder handed in, driven line by line from standard input:
//   click OBJECT-NAME | type TEXT | labels
// It prints "shown" once the window is up, "error: …" for every message it would show, and
// "dropped X Y" after every move of the window.
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

void run(Form1& form, const QString& line)
{
    const QString verb = line.section(u' ', 0, 0);
    const QString rest = line.section(u' ', 1);
    if (verb == u"click") {
        auto* control = form.findChild<QWidget*>(rest);
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    } else if (verb == u"type") {
        form.domainBox->setText(rest);
    } else if (verb == u"labels") {
        const QStringList shown
            = {form.domainLabel->text(), form.registrarLabel->text(), form.registrantLabel->text(),
                form.emailLabel->text(), form.createdLabel->text(), form.expiresLabel->text()};
        say(QStringLiteral("labels ") + shown.join(u'|'));
    }
}

// Hands the window, once it is up, to the lines arriving on standard input.
void drive(Form1& form)
{
    auto* notifier = new QSocketNotifier(0, QSocketNotifier::Read, &form);
    QObject::connect(
        notifier, &QSocketNotifier::activated, &form, [&form, pending = QByteArray()]() mutable {
            char buffer[4096];
            const ssize_t n = ::read(0, buffer, sizeof buffer);
            if (n <= 0)
                QCoreApplication::exit(3);
            pending.append(buffer, std::max<ssize_t>(n, 0));
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                run(form, QString::fromUtf8(pending.left(end)));
        });
    QObject::connect(form.findChild<WindowMover*>(), &WindowMover::finished, &form,
        [&form] { say(QStringLiteral("dropped %1 %2").arg(form.x()).arg(form.y())); });
    say(QStringLiteral("shown"));
}

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
        say(QStringLiteral("error: ") + QString(message).replace(u'\n', u' '));
    };
    services.openBrowser = [](const QString& url) {
        say(QStringLiteral("opened ") + url);
        return true;
    };
    QTimer::singleShot(0, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<Form1*>(window))
                drive(*form);
    });
    return runForm1(std::move(services));
}
