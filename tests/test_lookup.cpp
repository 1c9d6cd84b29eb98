// Look-ups and their scheduling on a fake clock, a fake network and an executor the test runs by
// hand: no sleeps, no sockets, and every order of events the test chooses.
#include <QtTest>

#include "service/lookup/registries.h"
#include "support/fakeregistries.h"
#include "support/fakeruntime.h"

using namespace std::chrono;

namespace {

// A registry's thin answer for domain that names registrar's whois server, and the registrar's.
QByteArray thinAnswer(const QString& domain, const QString& registrar)
{
    return whoisFixture("verisign-com.txt")
        .replace("EXAMPLE-SHOP.COM", domain.toUpper().toUtf8())
        .replace("whois.registrar-one.test", registrar.toUtf8());
}

QByteArray registrarAnswer(const QString& domain)
{
    return whoisFixture("registrar-com.txt").replace("example-shop.com", domain.toUtf8());
}

// The registries over a fake runtime; each host name leads to an address of its own in
// 127.0.1.0/24, but names under dns.test, which are left to the (fake) resolver.
struct Lab
{
    explicit Lab(bool rdap = false)
    {
        RegistrySettings settings;
        settings.ianaHost = "127.0.0.2";
        settings.allowLoopback = true;
        settings.perMinute = {1000000, 1000000, 1000000};
        settings.hosts
            = [this](const QString& host, quint16 port) -> std::optional<std::vector<Endpoint>> {
            if (host.endsWith(".dns.test") || !QHostAddress(host).isNull())
                return std::nullopt;
            return {{{QHostAddress(addressOf(host)), port}}};
        };
        if (rdap)
            bootstrap = std::make_unique<RdapBootstrap>(
                "https://bootstrap.test/dns.json", QString(), true, fake.runtime());
        registries = std::make_unique<Registries>(settings, fake.runtime(), bootstrap.get());
    }
    ~Lab() { stop(); }

    QString addressOf(const QString& host)
    {
        if (!addresses.count(host))
            addresses[host] = QStringLiteral("127.0.1.%1").arg(addresses.size() + 1);
        return addresses[host];
    }
    void start(const QString& domain, milliseconds budget = seconds(12))
    {
        registries->start({domain, QStringLiteral("client"), fake.timers.now + budget},
            [this, domain](const LookupResult& result) {
                QVERIFY2(!results.count(domain), qPrintable(domain + " ended twice"));
                results[domain] = result;
            });
        fake.executor.runAll();
    }
    // The one operation under way whose key starts with prefix.
    size_t only(const QString& prefix)
    {
        const std::vector<size_t> found = fake.network.find(prefix);
        if (found.size() != 1)
            qFatal("%zu operations under way for %s", found.size(), qPrintable(prefix));
        return found.front();
    }
    void answer(const QString& prefix, const QByteArray& text, long status = 200)
    {
        fake.network.answer(only(prefix), text, status);
        fake.executor.runAll();
    }
    // Ends every wait as the service does when it stops.
    void stop()
    {
        registries->stop();
        fake.network.stop();
        fake.timers.stop();
        fake.executor.runAll();
    }

    FakeRuntime fake;
    std::unique_ptr<RdapBootstrap> bootstrap;
    std::unique_ptr<Registries> registries;
    std::map<QString, QString> addresses;
    std::map<QString, LookupResult> results;
};

} // namespace

using Setup = std::function<void(Lab&)>;
Q_DECLARE_METATYPE(Setup)

class TestLookup : public QObject
{
    Q_OBJECT
private slots:
    void ianaOncePerTld();
    void turnNeverLost();
    void stopping_data();
    void stopping();
    void exceptionIsOneLookupsFailure();
    void heardFactsOutliveALaterHop();
    void rawAnswersNotKeptWhileWaiting_data();
    void rawAnswersNotKeptWhileWaiting();
    void bootstrapClockStep();
};

// Look-ups under a TLD the service has not seen, all at once: IANA is asked once, the others
// wait for its answer, and the registry's turn goes round them all.
void TestLookup::ianaOncePerTld()
{
    Lab lab;
    for (int i = 0; i < 50; ++i)
        lab.start(QStringLiteral("n%1.xyz").arg(i));
    lab.answer("127.0.0.2 xyz", ianaReferral("xyz", "whois.nic.xyz"));
    for (int i = 0; i < 50; ++i) {
        const size_t next = lab.only(lab.addressOf("whois.nic.xyz")); // one query at a time
        const QString domain = lab.fake.network.pending[next].key.section(u' ', 1);
        lab.fake.network.answer(next, "Domain Name: " + domain.toUtf8() + "\nRegistrar: R\n");
        lab.fake.executor.runAll();
    }
    QCOMPARE(lab.fake.network.count("127.0.0.2 xyz"), 1);
    QCOMPARE(lab.results.size(), size_t(50));
    for (const auto& [domain, result] : lab.results)
        QCOMPARE(outcomeName(result.outcome), "registered");
}

// Thin registries and their registrars answering, failing or staying silent in random orders,
// with the clock jumping ahead now and then: every look-up ends once, no server is ever asked
// two things at once, and once all have ended every server's turn is free again.
void TestLookup::turnNeverLost()
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 2000; ++round) {
        Lab lab;
        const QStringList tlds {"xyz", "top"};
        std::vector<QString> domains;
        for (int i = 0; i < 6; ++i) {
            domains.push_back(QStringLiteral("d%1.%2").arg(i).arg(tlds[i % 2]));
            lab.start(domains.back(), milliseconds(2000 + 500 * (random() % 20)));
        }
        while (lab.results.size() < domains.size()) {
            FakeNetwork& network = lab.fake.network;
            std::map<QString, int> perServer;
            for (const auto& operation : network.pending)
                QVERIFY2(
                    ++perServer[operation.key.section(u' ', 0, 0)] == 1, qPrintable(operation.key));
            if (network.pending.empty() && lab.fake.timers.pending.empty())
                QFAIL(
                    qPrintable(QStringLiteral("round %1: a look-up waits on nothing").arg(round)));
            if (network.pending.empty() || random() % 8 == 0) {
                lab.fake.timers.advanceTo(lab.fake.timers.now + milliseconds(random() % 3000));
                lab.fake.executor.runAll(&random);
                continue;
            }
            const size_t i = random() % network.pending.size();
            const QString key = network.pending[i].key;
            const QString asked = key.section(u' ', 1);
            const int fate = int(random() % 4);
            if (fate == 0)
                network.fail(i);
            else if (key.startsWith("127.0.0.2 "))
                network.answer(
                    i, ianaReferral(qPrintable(asked), qPrintable("whois.nic." + asked)));
            else if (key.startsWith(lab.addressOf("whois.registrar-a.test") + u' ')
                || key.startsWith(lab.addressOf("whois.registrar-b.test") + u' '))
                network.answer(i, registrarAnswer(asked));
            else
                network.answer(i,
                    thinAnswer(
                        asked, fate == 1 ? "whois.registrar-a.test" : "whois.registrar-b.test"));
            lab.fake.executor.runAll(&random);
        }
        QCOMPARE(lab.fake.tasks.count(), 0);
        QVERIFY(lab.fake.network.pending.empty());
        // Every turn was given back: a new look-up at each server is sent at once (with time
        // enough for however slow the jumping clock made the servers look).
        for (const QString& tld : tlds) {
            lab.start("again." + tld, hours(1));
            QVERIFY2(lab.fake.network.pending.size() == 1, qPrintable(QString::number(round)));
            lab.fake.network.fail(0);
            lab.fake.executor.runAll();
            QVERIFY(lab.results.count("again." + tld));
        }
    }
}

// Stopping while look-ups wait on each thing a look-up can wait on: every one of them ends at
// once, told the service stops, and nothing is left running.
void TestLookup::stopping_data()
{
    QTest::addColumn<Setup>("setup");
    const auto row = [](const char* name, const Setup& setup) { QTest::newRow(name) << setup; };
    const auto toRegistry = [](Lab& lab) {
        lab.start("a.xyz");
        lab.answer("127.0.0.2 xyz", ianaReferral("xyz", "whois.nic.xyz"));
    };
    row("a name being resolved", [](Lab& lab) {
        lab.start("a.xyz");
        lab.answer("127.0.0.2 xyz", ianaReferral("xyz", "whois.silent.dns.test"));
    });
    row("an answer", toRegistry);
    row("a turn at a busy server", [toRegistry](Lab& lab) {
        toRegistry(lab);
        lab.start("b.xyz");
    });
    row("IANA's answer another look-up awaits", [](Lab& lab) {
        lab.start("a.xyz");
        lab.start("b.xyz");
    });
    row("the bootstrap", [](Lab& lab) {
        lab.fake.timers.now += seconds(1); // a later look-up, while the first still waits
        lab.start("a.com");
    });
}

void TestLookup::stopping()
{
    QFETCH(Setup, setup);
    Lab lab(QByteArray(QTest::currentDataTag()) == "the bootstrap");
    setup(lab);
    QVERIFY(!lab.fake.network.pending.empty() || !lab.fake.timers.pending.empty());
    const size_t started = lab.fake.network.asked.size();
    QVERIFY(lab.results.size() < 2);
    lab.stop();
    QVERIFY(lab.results.size() >= 1);
    for (const auto& [domain, result] : lab.results)
        QCOMPARE(outcomeName(result.outcome), "unavailable");
    QCOMPARE(lab.fake.tasks.count(), 0);
    QVERIFY(lab.fake.executor.jobs.empty());
    QCOMPARE(lab.fake.network.asked.size(), started);
}

// A look-up that throws (here the network, as a failing allocation or thread creation would)
// fails alone, as an internal error; the next look-up goes on.
void TestLookup::exceptionIsOneLookupsFailure()
{
    Lab lab;
    lab.fake.network.onBegin = [](const QString& key) {
        if (key.contains("boom"))
            throw std::runtime_error("broken");
    };
    lab.start("boom.xyz");
    lab.answer("127.0.0.2 xyz", ianaReferral("xyz", "whois.nic.xyz"));
    QCOMPARE(outcomeName(lab.results["boom.xyz"].outcome), "unavailable");
    QVERIFY2(lab.results["boom.xyz"].detail.contains("internal error"),
        qPrintable(lab.results["boom.xyz"].detail));
    lab.start("fine.xyz");
    lab.answer(lab.addressOf("whois.nic.xyz"), "Domain Name: fine.xyz\nRegistrar: R\n");
    QCOMPARE(outcomeName(lab.results["fine.xyz"].outcome), "registered");
    QCOMPARE(lab.fake.tasks.count(), 0);
}

// The registry's RDAP answer comes late; the registrar's name then does not resolve before the
// look-up's time is up. The registry's facts are shown, as briefly as a failure's page.
void TestLookup::heardFactsOutliveALaterHop()
{
    Lab lab(true);
    lab.start("example-shop.com");
    lab.answer(
        "https://bootstrap.test/", R"({"services":[[["com"],["https://rdap.registry.test/"]]]})");
    lab.fake.timers.advanceTo(lab.fake.timers.now + seconds(8));
    lab.answer("https://rdap.registry.test/",
        rdapFixture("registry-com.json")
            .replace("{registry}", "https://rdap.registry.test/")
            .replace("{registrar}", "https://rdap.registrar.dns.test/"));
    lab.fake.timers.advanceTo(lab.fake.timers.now + seconds(4));
    lab.fake.network.fail(lab.only("rdap.registrar.dns.test"));
    lab.fake.executor.runAll();
    const LookupResult& result = lab.results["example-shop.com"];
    QCOMPARE(outcomeName(result.outcome), "registered");
    QCOMPARE(result.record.registrar, "Registrar One, LLC");
    QVERIFY(result.incomplete);
}

// A look-up waiting for its registrar holds what it read of the registry's answer, not the
// answer: the network's copy is the only one left.
void TestLookup::rawAnswersNotKeptWhileWaiting_data()
{
    QTest::addColumn<bool>("rdap");
    QTest::newRow("port 43") << false;
    QTest::newRow("RDAP") << true;
}

void TestLookup::rawAnswersNotKeptWhileWaiting()
{
    QFETCH(bool, rdap);
    Lab lab(rdap);
    lab.start("example-shop.com");
    QByteArray answer;
    if (rdap) {
        lab.answer("https://bootstrap.test/",
            R"({"services":[[["com"],["https://rdap.registry.test/"]]]})");
        answer = rdapFixture("registry-com.json")
                     .replace("{registry}", "https://rdap.registry.test/")
                     .replace("{registrar}", "https://rdap.registrar.test/");
        lab.answer("https://rdap.registry.test/", answer);
        QCOMPARE(lab.fake.network.find("https://rdap.registrar.test/").size(), size_t(1));
    } else {
        lab.answer("127.0.0.2 com", ianaReferral("com", "whois.verisign-grs.com"));
        answer = thinAnswer("example-shop.com", "whois.registrar-one.test");
        lab.answer(lab.addressOf("whois.verisign-grs.com"), answer);
        QCOMPARE(
            lab.fake.network.find(lab.addressOf("whois.registrar-one.test")).size(), size_t(1));
    }
    QVERIFY(answer.isDetached());
    QVERIFY(lab.results.empty());
}

// The bootstrap's clock passes the time for another try while a fetch is under way, as a wall
// clock stepping would: a look-up then waits for that fetch, and none is started beside it.
void TestLookup::bootstrapClockStep()
{
    Lab lab(true);
    lab.start("a.com");
    lab.fake.timers.now += minutes(11); // no timer falls due: the first look-up still waits
    lab.start("b.com");
    QCOMPARE(lab.fake.network.count("https://bootstrap.test/dns.json"), 1);
    lab.answer("https://bootstrap.test/", R"({"services":[[["com"],["https://rdap.test/"]]]})");
    QCOMPARE(lab.fake.network.find("https://rdap.test/domain/").size(), size_t(1)); // one turn
}

QTEST_GUILESS_MAIN(TestLookup)
#include "test_lookup.moc"
