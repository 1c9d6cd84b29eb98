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
    void failures_data();
    void failures();
    void injection();
    void query_data();
    void query();
    void failedQueryKeepsLabels();
    void secondQueryOverwritesAll();
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
    QTest::newRow("as typed") << "http://h/w?domain=Www.Ex-1.com%41"
                              << QByteArray("http://h/w?domain=Www.Ex-1.com%41");
    QTest::newRow("reserved kept")
        << "http://h/?d=a/b?c&d=e;f@g" << QByteArray("http://h/?d=a/b?c&d=e;f@g");
    QTest::newRow("CR LF") << "http://h/?d=a\r\nX: y" << QByteArray("http://h/?d=a%0D%0AX:%20y");
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
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("withLength");
    QTest::addColumn<QString>("text");
    QTest::newRow("404 page is read")
        << QByteArray("<h1>404 Not Found</h1>") << 404 << true << "<h1>404NotFound</h1>";
    QTest::newRow("blanks only") << QByteArray(" \r\n\t \r\n  ") << 200 << true << "";
    QTest::newRow("empty body") << QByteArray() << 200 << true << "";
    QTest::newRow("CRLF indented") << QByteArray("  Registrar: A B\r\n\tWhois Server: x\r\n") << 200
                                   << false << "Registrar:ABWhoisServer:x";
    QTest::newRow("GBK and 0xFF") << (gbk("友情 提示") + "\xff!") << 200 << true << "友情提示!";
}

void TestQuery::fetch()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(bool, withLength);
    QFETCH(QString, text);
    TestHttpServer::Response response {status, body};
    response.withLength = withLength;
    m_server->route("/p", response);
    FormFixture fixture;
    QCOMPARE(fixture.form().getdata(m_server->base() + "/p"), text);
}

void TestQuery::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused") << "refused"
                             << "无法连接查询服务器";
    QTest::newRow("unknown host") << "unknown"
                                  << "找不到查询服务器";
    QTest::newRow("never answers") << "/silent"
                                   << "没有按时应答";
    QTest::newRow("too long, with length") << "/huge"
                                           << "超过 16 MiB";
    QTest::newRow("too long, till close") << "/endless"
                                          << "超过 16 MiB";
}

void TestQuery::failures()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    TestHttpServer::Response silent;
    silent.neverAnswer = true;
    m_server->route("/silent", silent);
    const QByteArray huge(16 * 1024 * 1024 + 1, 'a');
    m_server->route("/huge", {200, huge});
    TestHttpServer::Response endless {200, huge};
    endless.withLength = false;
    m_server->route("/endless", endless);

    QString url = m_server->base() + path;
    if (path == "refused") {
        url = QStringLiteral("http://127.0.0.1:1/");
    } else if (path == "unknown") {
        url = QStringLiteral("http://no-such-host.invalid/");
    }
    XmlHttpRequest request({std::chrono::milliseconds(2000), std::chrono::milliseconds(500)});
    request.Open("GET", url, false);
    try {
        request.send();
        QFAIL("the fetch did not fail");
    } catch (const FetchError& error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(reason), error.what());
    }
    QVERIFY(request.responseBody().isEmpty());
}

void TestQuery::injection()
{
    FormFixture fixture(whoisBase());
    fixture.form().tb_url->setText("a.com HTTP/1.1\r\nX-Injected: 1\r\n\r\nGET /second");
    QTest::mouseClick(fixture.form().Command1, Qt::LeftButton);
    QCOMPARE(m_server->requests().size(), size_t(1));
    const QByteArray head = m_server->requests().front();
    QVERIFY(!head.contains("\r\nX-Injected"));
    QCOMPARE(m_server->targets().front(),
        QByteArray("/cgi-bin/whois?domain=a.com%20HTTP/1.1%0D%0AX-Injected:%201%0D%0A%0D%0A"
                   "GET%20/second"));
    QVERIFY(!head.toLower().contains("user-agent"));
}

void TestQuery::query_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("version 2.0") << page("version2.html") << "example.com"
                                 << QStringList {"example.com", "ABC-123REGISTRAR,INC.", "已保密",
                                        "已保密", "2008-03-14 12:00:00", "2012-03-14 12:00:00"};
    QTest::newRow("sponsoring layout")
        << page("sponsoring.html") << "example.cn"
        << QStringList {"example.cn", "北京新网数码信息技术有限公司", "北京示例科技有限公司",
               "admin@example.cn", "2003-03-17 12:20:05", "2013-03-17 12:48:36"};
    QTest::newRow("markup shows as text")
        << QByteArray("RegistrantName:<b>Bold</b><img src=x>Administrative") << "x.cn"
        << QStringList {"x.cn", "", "<b>Bold</b><imgsrc=x>", "", " ", " "};
    QTest::newRow("initial text") << QByteArray() << QString()
                                  << QStringList {"不要输入www.", "", "", "", " ", " "};
}

void TestQuery::query()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    m_server->route("/cgi-bin/whois", {200, body});
    FormFixture fixture(whoisBase());
    Form1& form = fixture.form();
    if (!typed.isNull()) {
        form.tb_url->selectAll();
        QTest::keyClicks(form.tb_url, typed);
    }
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(values(form), shown);
    QCOMPARE(m_server->targets().back(), requestTarget("/cgi-bin/whois?domain=" + shown.front()));
    QCOMPARE(form.lb_truename->textFormat(), Qt::PlainText);
    QVERIFY(fixture.messages.isEmpty());
}

void TestQuery::failedQueryKeepsLabels()
{
    FormFixture fixture(QStringLiteral("http://127.0.0.1:1/cgi-bin/whois?domain="));
    Form1& form = fixture.form();
    form.lb_cop->setText("earlier");
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(fixture.messages.size(), 1);
    QVERIFY(fixture.messages.front().contains("无法连接查询服务器"));
    QCOMPARE(values(form), (QStringList {"", "earlier", "", "", "", ""}));
    // The program goes on and can be asked again.
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(fixture.messages.size(), 2);
}

void TestQuery::secondQueryOverwritesAll()
{
    FormFixture fixture(whoisBase());
    Form1& form = fixture.form();
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(form.lb_truename->text(), QString("已保密"));
    m_server->route("/cgi-bin/whois", {200, "nothing here"});
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QCOMPARE(values(form), (QStringList {"不要输入www.", "", "", "", " ", " "}));
}

void TestQuery::busyCursorWhileWaiting()
{
    Qt::CursorShape during = Qt::ArrowCursor;
    TestHttpServer::Response response {200, page("version2.html")};
    // The window is blocked in the fetch while this runs, so reading its cursor is safe.
    response.onRequest = [&during] {
        if (const QCursor* cursor = QGuiApplication::overrideCursor())
            during = cursor->shape();
    };
    m_server->route("/cgi-bin/whois", response);
    FormFixture fixture(whoisBase());
    QTest::mouseClick(fixture.form().Command1, Qt::LeftButton);
    QCOMPARE(during, Qt::WaitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
}

QTEST_MAIN(TestQuery)
#include "test_query.moc"
