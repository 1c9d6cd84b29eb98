// The whois fetch over real HTTP on loopback, and the query driven through the window.
#include <QtTest>

#include "query/xmlhttp.h"
#include "support/formfixture.h"
#include "support/httpserver.h"

namespace {

QByteArray page(const char* name)
{
    QFile file(QStringLiteral(TEST_PAGES_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList values(Form1& form)
{
    return {form.lb_url->text(), form.lb_cop->text(), form.lb_truename->text(),
        form.lb_mail->text(), form.lb_bdate->text(), form.lb_edate->text()};
}

const QStringList kNothingFound {"不要输入www.", "", "", "", " ", " "};

} // namespace

class TestQuery : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void target_data();
    void target();
    void fetch_data();
    void fetch();
    void query_data();
    void query();
    void failedQueryKeepsLabels();
    void busyCursorWhileWaiting();

private:
    std::unique_ptr<TestHttpServer> m_server;
    QString whoisBase() const { return m_server->base() + "/cgi-bin/whois?domain="; }
};

void TestQuery::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_server->route("/cgi-bin/whois", {200, page("version2.html")});
}

void TestQuery::target_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("as typed") << "http://h/w?d=Www.Ex-1.com%41"
                              << QByteArray("http://h/w?d=Www.Ex-1.com%41");
    QTest::newRow("reserved kept")
        << "http://h/?d=a/b?c&d=e;f@g" << QByteArray("http://h/?d=a/b?c&d=e;f@g");
    QTest::newRow("CR LF, space") << "http://h/?d=a\r\nX: y"
                                  << QByteArray("http://h/?d=a%0D%0AX:%20y");
    QTest::newRow("fragment, quotes")
        << "http://h/?d=a#b\"<>" << QByteArray("http://h/?d=a%23b%22%3C%3E");
    QTest::newRow("non-ASCII as UTF-8")
        << "http://h/?d=不要" << QByteArray("http://h/?d=%E4%B8%8D%E8%A6%81");
    QTest::newRow("NUL, tab, DEL")
        << QString("http://h/?d=a") + QChar(0) + "\t\x7f" << QByteArray("http://h/?d=a%00%09%7F");
}

void TestQuery::target()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, sent);
    QCOMPARE(requestTarget(url), sent);
}

void TestQuery::fetch_data()
{
    QTest::addColumn<QString>("url"); // a path on the test server, or a whole address
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("failure");
    QTest::newRow("404 page is read") << "/missing"
                                      << "<html><body><h1>404NotFound</h1></body></html>"
                                      << "";
    QTest::newRow("blanks only") << "/blanks"
                                 << ""
                                 << "";
    QTest::newRow("CRLF indented, till close") << "/indented"
                                               << "Registrar:ABWhoisServer:x"
                                               << "";
    QTest::newRow("GBK and 0xFF") << "/gbk"
                                  << "友情提示!"
                                  << "";
    QTest::newRow("refused") << "http://127.0.0.1:1/"
                             << ""
                             << "无法连接查询服务器";
    QTest::newRow("never answers") << "/silent"
                                   << ""
                                   << "没有按时应答";
    QTest::newRow("too long") << "/huge"
                              << ""
                              << "超过 1 MiB";
    QTest::newRow("too long, till close") << "/endless"
                                          << ""
                                          << "超过 1 MiB";
}

void TestQuery::fetch()
{
    QFETCH(QString, url);
    QFETCH(QString, text);
    QFETCH(QString, failure);
    using Response = TestHttpServer::Response;
    m_server->route("/blanks", {200, " \r\n\t \r\n  "});
    m_server->route("/indented", {200, "  Registrar: A B\r\n\tWhois Server: x\r\n", false});
    m_server->route("/gbk", {200, gbk("友情 提示") + "\xff!"});
    m_server->route("/silent", Response {200, {}, true, true});
    const QByteArray huge(1024 * 1024 + 1, 'a');
    m_server->route("/huge", {200, huge});
    m_server->route("/endless", {200, huge, false});

    FormFixture fixture;
    fixture.services.fetchLimits.answerTimeout = std::chrono::milliseconds(500);
    fixture.services.fetchLimits.maxBodyBytes = 1024 * 1024;
    try {
        QCOMPARE(fixture.form().getdata(url.startsWith('/') ? m_server->base() + url : url), text);
        QVERIFY(failure.isEmpty());
    } catch (const FetchError& error) {
        QVERIFY2(
            !failure.isEmpty() && QString::fromUtf8(error.what()).contains(failure), error.what());
    }
}

void TestQuery::query_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("typed"); // null: the text box as it starts
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("version 2.0") << page("version2.html") << "example.com"
                                 << QByteArray("/cgi-bin/whois?domain=example.com")
                                 << QStringList {"example.com", "ABC-123REGISTRAR,INC.", "已保密",
                                        "已保密", "2008-03-14 12:00:00", "2012-03-14 12:00:00"};
    QTest::newRow("sponsoring layout")
        << page("sponsoring.html") << "example.cn" << QByteArray("/cgi-bin/whois?domain=example.cn")
        << QStringList {"example.cn", "北京新网数码信息技术有限公司", "北京示例科技有限公司",
               "admin@example.cn", "2003-03-17 12:20:05", "2013-03-17 12:48:36"};
    QTest::newRow("markup shows as text")
        << QByteArray("RegistrantName:<b>Bold</b><img src=x>Administrative") << "x.cn"
        << QByteArray("/cgi-bin/whois?domain=x.cn")
        << QStringList {"x.cn", "", "<b>Bold</b><imgsrc=x>", "", " ", " "};
    QTest::newRow("initial text")
        << QByteArray() << QString()
        << QByteArray("/cgi-bin/whois?domain=%E4%B8%8D%E8%A6%81%E8%BE%93%E5%85%A5www.")
        << kNothingFound;
    QTest::newRow("empty text box") << QByteArray() << "" << QByteArray("/cgi-bin/whois?domain=")
                                    << QStringList {"", "", "", "", " ", " "};
}

void TestQuery::query()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, typed);
    QFETCH(QByteArray, target);
    QFETCH(QStringList, shown);
    FormFixture fixture(whoisBase());
    Form1& form = fixture.form();
    if (!typed.isNull())
        form.tb_url->setText(typed);
    // A first query of another page, which the second must overwrite everywhere.
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    m_server->route("/cgi-bin/whois", {200, body});
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(values(form), shown);
    QCOMPARE(m_server->targets().size(), size_t(2));
    QCOMPARE(m_server->targets().back(), target);
    // The request carries no headers of the program's own making.
    const QByteArray head = m_server->requests().back().toLower();
    QVERIFY(!head.contains("user-agent"));
    QVERIFY(fixture.messages.isEmpty());
}

void TestQuery::failedQueryKeepsLabels()
{
    FormFixture fixture(QStringLiteral("http://127.0.0.1:1/cgi-bin/whois?domain="));
    Form1& form = fixture.form();
    form.lb_cop->setText("earlier");
    for (int attempt = 1; attempt <= 2; ++attempt) { // and the program goes on
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        QCOMPARE(fixture.messages.size(), attempt);
    }
    QVERIFY(fixture.messages.front().contains("无法连接查询服务器"));
    QCOMPARE(values(form), (QStringList {"", "earlier", "", "", "", ""}));
}

void TestQuery::busyCursorWhileWaiting()
{
    Qt::CursorShape during = Qt::ArrowCursor;
    // The window is blocked in the fetch while this runs, so reading its cursor is safe.
    m_server->route(
        "/cgi-bin/whois", {200, "", true, false, [&during] {
                               if (const QCursor* cursor = QGuiApplication::overrideCursor())
                                   during = cursor->shape();
                           }});
    FormFixture fixture(whoisBase());
    QTest::mouseClick(fixture.form().Command1, Qt::LeftButton);
    QCOMPARE(during, Qt::WaitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
}

QTEST_MAIN(TestQuery)
#include "test_query.moc"
