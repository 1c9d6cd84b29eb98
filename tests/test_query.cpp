// The whois fetch over real HTTP on loopback, and the query driven through the window.
#include <future>

#include <QtTest>

#include "support/formfixture.h"
#include "support/fakeserver.h"
#include "window/pagefetch.h"

namespace {

QByteArray page(const char* name)
{
    QFile file(QStringLiteral(TEST_PAGES_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestQuery : public QObject
{
    Q_OBJECT
private slots:
    void fetch_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("failure");
        const auto row
            = [](const char* name, const char* path, const char* text, const char* failure) {
                  QTest::newRow(name) << path << text << failure;
              };
        row("404 page is read", "/missing", "<html><body><h1>404NotFound</h1></body></html>", "");
        row("CRLF indented, till close", "/indented", "Registrar:ABWhoisServer:x", "");
        row("GBK and 0xFF", "/gbk", "友情提示!", "");
        row("never answers", "/silent", "", "没有按时应答");
        row("too long", "/huge", "", "超过 1 MiB");
        row("too long, till close", "/endless", "", "超过 1 MiB");
    }

    void fetch()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(QString, failure);
        TestHttpServer server;
        server.route("/indented", {200, "  Registrar: A B\r\n\tWhois Server: x\r\n", false});
        server.route("/gbk", {200, gbk("友情 提示") + "\xff!"});
        server.route("/silent", TestHttpServer::Response {200, {}, true, true});
        const QByteArray huge(1024 * 1024 + 1, 'a');
        server.route("/huge", {200, huge});
        server.route("/endless", {200, huge, false});

        FormFixture fixture;
        fixture.services.fetchLimits
            = {std::chrono::seconds(15), std::chrono::milliseconds(500), 1024 * 1024};
        try {
            QCOMPARE(fixture.form().fetchPage(server.base() + path), text);
            QVERIFY(failure.isEmpty());
        } catch (const FetchError& error) {
            QVERIFY2(!failure.isEmpty() && QString::fromUtf8(error.what()).contains(failure),
                error.what());
        }
    }

    void query_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("sent"); // after "domain="
        QTest::addColumn<QString>("shown"); // the six labels; none: nothing read but the domain
        const auto row = [](const char* name, const QByteArray& body, const QString& typed,
                             const char* sent, const char* shown) {
            QTest::newRow(name) << body << typed << QByteArray(sent) << QString(shown);
        };
        row("version 2.0", page("version2.html"), "example.com", "example.com",
            "example.com|ABC-123REGISTRAR,INC.|已保密|已保密|2008-03-14 12:00:00|2012-03-14 "
            "12:00:00");
        row("sponsoring layout", page("sponsoring.html"), "example.cn", "example.cn",
            "example.cn|北京新网数码信息技术有限公司|北京示例科技有限公司|admin@example.cn|"
            "2003-03-17 12:20:05|2013-03-17 12:48:36");
        // What goes on the wire: no typed text adds a header, a second request or a fragment.
        row("empty text box", {}, "", "", "");
        row("as typed, reserved kept", {}, "Www.Ex-1.com%2F/b?c&d=e;f@g",
            "Www.Ex-1.com%2F/b?c&d=e;f@g", "");
        row("CR LF, space: no header", {}, "a\r\nX: y", "a%0D%0AX:%20y", "");
        row("fragment, quotes", {}, "a#b\"<>", "a%23b%22%3C%3E", "");
        row("non-ASCII as UTF-8", {}, "不要", "%E4%B8%8D%E8%A6%81", "");
        row("NUL, tab, DEL", {}, QString("a") + QChar(0) + "\t\x7f", "a%00%09%7F", "");
    }

    void query()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, typed);
        QFETCH(QByteArray, sent);
        QFETCH(QString, shown);
        const QByteArray target = "/cgi-bin/whois?domain=" + sent;
        TestHttpServer server;
        server.route("/cgi-bin/whois", {200, page("version2.html")});
        FormFixture fixture(server.base() + "/cgi-bin/whois?domain=");
        Form1& form = fixture.form();
        form.domainBox->setText(typed);
        // A first query of another page, which the second must overwrite everywhere.
        QTest::mouseClick(form.queryButton, Qt::LeftButton);
        // While the second answer is awaited, an input method commits other text into the box:
        // the labels still show what was queried.
        TestHttpServer::Response second {200, body};
        second.onRequest = [&form] {
            const auto typed = std::make_shared<std::promise<void>>();
            QMetaObject::invokeMethod(&form, [&form, typed] {
                form.domainBox->setText("typed meanwhile");
                typed->set_value();
            });
            typed->get_future().wait_for(std::chrono::seconds(10));
        };
        server.route("/cgi-bin/whois", second);
        QTest::mouseClick(form.queryButton, Qt::LeftButton);
        QCOMPARE(form.domainBox->text(), QString("typed meanwhile"));
        QCOMPARE(fixture.labels().join('|'), shown.isEmpty() ? typed + "|||| | " : shown);
        QCOMPARE(server.targets(), (std::vector<QByteArray> {target, target}));
        QVERIFY(fixture.messages.isEmpty());
    }

    void failedQueryKeepsLabels()
    {
        FormFixture fixture(QStringLiteral("http://127.0.0.1:1/cgi-bin/whois?domain="));
        Form1& form = fixture.form();
        form.registrarLabel->setText("earlier");
        for (int attempt = 1; attempt <= 2; ++attempt) { // and the program goes on
            QTest::mouseClick(form.queryButton, Qt::LeftButton);
            QCOMPARE(fixture.messages.size(), attempt);
        }
        QVERIFY(fixture.messages.front().contains("无法连接查询服务器"));
        QCOMPARE(fixture.labels(), (QStringList {"", "earlier", "", "", "", ""}));
        QVERIFY(!QGuiApplication::overrideCursor()); // the busy pointer is undone
    }
};

QTEST_MAIN(TestQuery)
#include "test_query.moc"
