// The program's main job for real: the whois service as a process of its own, fed by fake IANA
// and registry servers on loopback, and the real window pressing "查询".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>

#include "support/formfixture.h"
#include "support/whoisserver.h"

namespace {

// Referrals are followed to host names on port 43 only; listening there takes privileges.
bool canListenOnPort43()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(43);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    ::close(fd);
    return ok;
}

// The rest of the first line of what a process said (into seen) that starts with start.
QByteArray waitForLine(
    QProcess& process, const QByteArray& start, QByteArray& seen, bool fromStderr = false)
{
    for (QDeadlineTimer deadline(20000); !deadline.hasExpired();) {
        process.waitForReadyRead(50);
        seen += fromStderr ? process.readAllStandardError() : process.readAllStandardOutput();
        for (const QByteArray& line : seen.split('\n'))
            if (line.startsWith(start) && seen.contains(line + '\n'))
                return line.mid(start.size());
    }
    return {};
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void queryThroughTheService();
};

void TestEndToEnd::queryThroughTheService()
{
    if (!canListenOnPort43())
        QSKIP("the fake registry must listen on 127.0.0.1:43, which needs root");
    FakeWhoisServer iana("127.0.0.2");
    iana.answer("cn", "refer:        localhost\n\ndomain:       CN\n");
    FakeWhoisServer registry("127.0.0.1", 43);
    registry.answer("example.com.cn", whoisFixture("cnnic-cn.txt"));

    QTemporaryDir dir;
    QProcess service;
    service.start(SERVICE,
        {"--listen", "127.0.0.1:0", "--iana-whois", QStringLiteral("127.0.0.2:%1").arg(iana.port()),
            "--allow-loopback-upstreams"});
    QByteArray log, said;
    const QByteArray site = waitForLine(service, "domain-whois-service: listening on ", log, true);
    QVERIFY2(!site.isEmpty(), log.constData());

    makeEmptyDatabase(dir.filePath("domain.mdb"));
    QProcess window;
    window.start(TESTHOST, {dir.path(), site + "/cgi-bin/whois?domain=", site + "/ad/ad2.html"});
    QVERIFY(!waitForLine(window, "shown", said).isNull());
    window.write("type www.example.com.cn\nclick Command1\nlabels\n");
    QCOMPARE(QString::fromUtf8(waitForLine(window, "labels ", said)).split('|'),
        (QStringList {"www.example.com.cn", "北京新网数码信息技术有限公司", "北京示例科技有限公司",
            "admin@example.com.cn", "2003-03-17 12:20:05", "2027-03-17 12:48:36"}));
    QCOMPARE(registry.queries(), std::vector<QByteArray> {"example.com.cn"});
    // One line per look-up: the domain, where it asked, how long, how it ended.
    const QRegularExpression logged(
        " example\\.com\\.cn asked=127\\.0\\.0\\.2,localhost \\d+ms registered\n");
    QTRY_VERIFY2(
        (log += service.readAllStandardError(), logged.match(QString::fromUtf8(log)).hasMatch()),
        log.constData());
    window.write("click Label1\n");
    QVERIFY(window.waitForFinished(10000));
    service.terminate();
    QVERIFY(service.waitForFinished(15000));
    QCOMPARE(service.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
