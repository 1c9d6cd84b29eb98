// The service at full strength: RDAP from IANA's bootstrap registry with port 43 behind it, the
// shared cache, one upstream look-up for clients asking at once, and the polite limits. Fake
// RDAP servers of the shared fake registries.
#include <functional>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QtTest>

#include "support/fakeregistries.h"

// An answer of the RDAP fake for a path; "{rdap}" in it stands for the fake's base address.
using Route = QPair<QByteArray, FakeServer::Response>;

namespace {

const QStringList kCharityShown = shownFor("example-charity.org");

QByteArray bootstrapFor(const QByteArray& servers)
{
    return R"({"version":"1.0","services":[[["com","org"],[)" + servers + "]]]}";
}

FakeServer::Response slow(FakeServer::Response answer)
{
    answer.onRequest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    return answer;
}

// The text at path in an RDAP answer (see tests/rdap/endpoint.tsv).
QString valueAt(const QJsonObject& object, const QString& path, const QByteArray& headers)
{
    const QStringList parts = path.split(u'.');
    const QString& top = parts[0];
    const auto joined = [](const QJsonArray& array, const char* member = nullptr) {
        QStringList items;
        for (const QJsonValue& item : array)
            items << (member ? item.toObject().value(QLatin1String(member)).toString()
                             : item.toString());
        return items.join(u',');
    };
    if (top == "header")
        return QRegularExpression("(?mi)^" + parts[1] + ":\\s*([^\\r\\n]*)")
            .match(headers)
            .captured(1);
    if (parts.size() == 1) {
        const QJsonValue value = object.value(top);
        if (top == "nameservers")
            return joined(value.toArray(), "ldhName");
        if (top == "events")
            return joined(value.toArray(), "eventAction");
        return value.isArray() ? joined(value.toArray()) : value.toVariant().toString();
    }
    for (const QJsonValue& item : object.value(top).toArray()) {
        const QJsonObject member = item.toObject();
        if (top == "events" && member.value("eventAction").toString() == parts[1])
            return member.value("eventDate").toString();
        if ((top == "notices" || top == "remarks")
            && member.value("title").toString() == parts[1]) {
            QStringList lines;
            for (const QJsonValue& line : member.value("description").toArray())
                lines << line.toString();
            return lines.join(" | ");
        }
        if (top == "entities" && member.value("roles").toArray().contains(parts[1])) {
            if (parts[2] == "iana")
                return member.value("publicIds")
                    .toArray()
                    .at(0)
                    .toObject()
                    .value("identifier")
                    .toString();
            for (const QJsonValue& property : member.value("vcardArray").toArray().at(1).toArray())
                if (property.toArray().at(0).toString() == parts[2])
                    return property.toArray().at(3).toString();
        }
    }
    return {};
}

// What of RFC 9083 an answer breaks; empty when it keeps every rule checked.
QStringList rfc9083Faults(const QJsonObject& object, long status)
{
    QStringList faults;
    const auto check = [&faults](bool kept, const QString& rule) {
        if (!kept)
            faults << rule;
    };
    static const QRegularExpression date(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(\\.\\d+)?(Z|[+-]\\d\\d:\\d\\d)$");
    check(object.value("rdapConformance").toArray().contains("rdap_level_0"),
        "4.1: rdapConformance holds rdap_level_0");
    const auto describedAll = [&](const char* member) {
        for (const QJsonValue& item : object.value(member).toArray()) {
            check(item.toObject().value("description").isArray(),
                QString("4.3: every %1 has a description array").arg(member));
        }
    };
    describedAll("notices");
    describedAll("remarks");
    if (status != 200) {
        check(object.value("errorCode").toInt() == status, "6: errorCode is the HTTP status");
        check(object.value("title").isString(), "6: an error has a title");
        check(object.value("description").isArray(), "6: an error has a description array");
        return faults;
    }
    check(object.value("objectClassName") == "domain", "5.3: objectClassName is domain");
    check(QRegularExpression("^[a-z0-9.-]+$").match(object.value("ldhName").toString()).hasMatch(),
        "3: ldhName is in LDH form");
    for (const QJsonValue& event : object.value("events").toArray()) {
        check(event.toObject().value("eventAction").isString(), "4.5: an event has an action");
        check(date.match(event.toObject().value("eventDate").toString()).hasMatch(),
            "4.5: eventDate is RFC 3339");
    }
    for (const QJsonValue& value : object.value("entities").toArray()) {
        const QJsonObject entity = value.toObject();
        check(entity.value("objectClassName") == "entity", "5.1: objectClassName is entity");
        check(entity.value("roles").isArray(), "5.1: an entity has roles");
        const QJsonArray card = entity.value("vcardArray").toArray();
        check(card.at(0) == "vcard" && card.at(1).toArray().at(0).toArray().at(0) == "version",
            "5.1: vcardArray is jCard, version first (RFC 7095)");
    }
    for (const QJsonValue& server : object.value("nameservers").toArray())
        check(server.toObject().value("objectClassName") == "nameserver"
                && server.toObject().value("ldhName").isString(),
            "5.2: a nameserver has its class and ldhName");
    check(object.value("status").isArray(), "4.6: status is an array");
    return faults;
}

} // namespace

class TestServiceRdap : public QObject
{
    Q_OBJECT
private slots:
    void lookUps_data();
    void lookUps();
    void bootstrapKept();
    void cache();
    void endpoint_data();
    void endpoint();
    void stopWhileBootstrapHangs_data();
    void stopWhileBootstrapHangs();
    void limits_data();
    void limits();
};

// A fresh service's first look-ups, which wait for the bootstrap registry within their time; every
// server it lists for a TLD is tried in turn; it is followed through redirects to https alone.
void TestServiceRdap::lookUps_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<Route>>("routes"); // what the RDAP fake answers instead of its table
    QTest::addColumn<bool>("port43"); // whether port 43 was asked
    QTest::addColumn<QStringList>("shown"); // empty: as port 43 shows it
    const auto row = [](const char* name, const char* typed, const QList<Route>& routes,
                         bool port43, const QStringList& shown = {}) {
        QTest::newRow(name) << QString(typed) << routes << port43 << shown;
    };
    const QList<Route> none;
    const QByteArray dns = bootstrapFor("\"{rdap}/rdap/\"");
    FakeServer::Response moved {301, {}};
    moved.headers = {{"Location", "{rdap}/moved.json"}};
    const QByteArray charity = "/rdap/domain/example-charity.org";
    const char* org = "example-charity.org";
    row("thin registry, related registrar", "www.Example-Shop.com", none, false);
    row("redacted registrant", org, none, false);
    row("not found", "free-name-42.com", none, false);
    row("malformed, then port 43", org, {{charity, {200, "{\"objectClassName\":"}}}, true);
    row("deeply nested, then port 43", org, {{charity, {200, QByteArray(200000, '[')}}}, true);
    row("server error, then port 43", org, {{charity, {500, "oops"}}}, true);
    row("a registrant name of 900,000 characters, cut", org,
        {{charity,
            {200,
                R"({"objectClassName":"domain","entities":[{"roles":["registrar"],"vcardArray":)"
                R"(["vcard",[["fn",{},"text","Registrar Two Ltd"]]]},{"roles":["registrant"],)"
                R"("vcardArray":["vcard",[["fn",{},"text",")"
                    + QByteArray(900000, 'A') + R"("]]]}]})"}}},
        false, {kCharityShown[0], QString(256, u'A') + "…", "已保密", " ", " "});
    row("a TLD without RDAP", "www.example.com.cn", none, true);
    row("bootstrap still being fetched", org, {{"/dns.json", slow({200, dns})}}, false);
    row("first server failing", org,
        {{"/down/domain/example-charity.org", {500, "oops"}},
            {"/dns.json", {200, bootstrapFor("\"{rdap}/down/\",\"{rdap}/rdap/\"")}}},
        false);
    row("bootstrap redirected to http", org, {{"/moved.json", {200, dns}}, {"/dns.json", moved}},
        true);
}

void TestServiceRdap::lookUps()
{
    QFETCH(QString, typed);
    QFETCH(QList<Route>, routes);
    QFETCH(bool, port43);
    QFETCH(QStringList, shown);
    FakeRegistries upstream;
    const QByteArray base = upstream.rdap.base().toUtf8();
    for (auto [path, answer] : routes) {
        answer.body.replace("{rdap}", base);
        for (auto& header : answer.headers)
            header.second.replace("{rdap}", base);
        upstream.rdap.route(path, answer);
    }
    QCOMPARE(upstream.lookUp(typed, true).shown, shown.isEmpty() ? shownFor(typed) : shown);
    QCOMPARE(!upstream.whois.targets().empty(), port43);
    QCOMPARE(upstream.rdap.asked("/moved.json"), 0);
}

// Fetched once, kept on disk, used by the next start even when IANA cannot be reached; fetched
// again once a day old.
void TestServiceRdap::bootstrapKept()
{
    FakeRegistries upstream;
    QCOMPARE(upstream.lookUp("example-charity.org", true).shown, kCharityShown);
    upstream.rdap.route("/dns.json", {404, ""});
    QCOMPARE(upstream.lookUp("example-charity.org", true).shown, kCharityShown);
    QCOMPARE(upstream.rdap.asked("/dns.json"), 1);
    QVERIFY(upstream.whois.targets().empty());
    QFile kept(upstream.cache.filePath("dns.json"));
    QVERIFY(kept.open(QIODevice::ReadWrite));
    kept.setFileTime(
        QDateTime::currentDateTimeUtc().addDays(-2), QFileDevice::FileModificationTime);
    kept.close();
    WhoisService later(upstream.service(true));
    ask(later, "example-charity.org");
    QTRY_COMPARE(upstream.rdap.asked("/dns.json"), 2);
    QCOMPARE(ask(later, "example-shop.com").status, 200L);
    QVERIFY(upstream.whois.targets().empty()); // over RDAP: the old copy still serves
}

// Clients asking at once share one upstream look-up; its page then answers the same registrable
// domain for 15 minutes.
void TestServiceRdap::cache()
{
    FakeRegistries upstream;
    WhoisService service(upstream.service(true));
    upstream.rdap.route(
        "/rdap/domain/example-charity.org", slow({200, rdapFixture("registry-org.json")}));
    std::vector<std::thread> clients;
    std::vector<Answer> answers(8);
    for (Answer& answer : answers)
        clients.emplace_back([&] { answer = ask(service, "example-charity.org"); });
    for (std::thread& client : clients)
        client.join();
    for (const Answer& answer : answers)
        QCOMPARE(answer.shown, kCharityShown);
    const auto queries
        = [&upstream] { return upstream.rdap.targets().size() + upstream.whois.targets().size(); };
    QCOMPARE(queries(), size_t(2)); // the bootstrap and the domain
    upstream.clockAhead = 14 * 60;
    const Answer again = ask(service, "WWW.Example-Charity.org");
    QCOMPARE(again.shown, kCharityShown);
    QCOMPARE(queries(), size_t(2));
    QVERIFY2(again.headers.contains("Cache-Control: public, max-age="), again.headers.constData());
    upstream.clockAhead = 16 * 60;
    ask(service, "example-charity.org");
    QCOMPARE(queries(), size_t(3));
}

// The RDAP endpoint: every TLD answered as an RDAP domain object, from the registry's RDAP
// answer or translated from its whois answer, each answer within RFC 9083's rules.
void TestServiceRdap::endpoint_data()
{
    QTest::addColumn<QStringList>("row");
    for (const QStringList& row : tableIn(RDAP_FIXTURES, "endpoint.tsv"))
        QTest::newRow(qPrintable(row[0])) << row.mid(1);
}

void TestServiceRdap::endpoint()
{
    QFETCH(QStringList, row); // name, via RDAP, status, checks
    FakeRegistries upstream;
    WhoisService service(upstream.service(row[1] == "true"));
    const HttpGot got
        = httpRequest(QStringLiteral("http://127.0.0.1:%1/rdap/domain/").arg(service.port())
            + row[0].toUtf8().toPercentEncoding());
    QCOMPARE(got.status, row[2].toLong());
    QVERIFY2(got.headers.contains("Content-Type: application/rdap+json"), got.headers.constData());
    const QJsonObject object = QJsonDocument::fromJson(got.body).object();
    QCOMPARE(rfc9083Faults(object, got.status), QStringList());
    for (QString check : row[3].split(" ; ")) {
        check.replace("{registry}", upstream.rdap.base() + "/rdap/")
            .replace("{registrar}", upstream.registrar.base() + "/rdap/");
        const QString path = check.section(u'=', 0, 0), value = check.section(u'=', 1);
        QCOMPARE(path + '=' + valueAt(object, path, got.headers), check);
    }
}

// Stopping while the bootstrap's first fetch hangs, with or without a client waiting for it: the
// fetch is ended, and whoever waits answered, at once.
void TestServiceRdap::stopWhileBootstrapHangs_data()
{
    QTest::addColumn<bool>("waiting");
    QTest::newRow("a client waits") << true;
    QTest::newRow("nobody waits") << false;
}

void TestServiceRdap::stopWhileBootstrapHangs()
{
    QFETCH(bool, waiting);
    FakeRegistries upstream;
    upstream.rdap.route("/dns.json", {200, {}, true, true});
    ServiceSettings settings = upstream.service(true);
    settings.budget = std::chrono::seconds(waiting ? 12 : 2);
    auto service = std::make_unique<WhoisService>(settings);
    Answer got;
    std::thread client;
    if (waiting)
        client = std::thread([&] { got = ask(*service, "example-charity.org"); });
    else // starts the fetch, and is answered over port 43 after half its time
        QCOMPARE(ask(*service, "free-name-42.com").shown.at(1), kFree);
    QTRY_COMPARE(upstream.rdap.asked("/dns.json"), 1);
    QElapsedTimer clock;
    clock.start();
    service.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    if (waiting) {
        client.join();
        QCOMPARE(got.shown.at(1), kUnavailable);
    }
}

// The service's own limit per server: the next look-up there is answered at once, asking no one.
// A registry's 429 holds its RDAP off, an hour at most, while port 43 answers.
void TestServiceRdap::limits_data()
{
    QTest::addColumn<QByteArray>("retryAfter"); // of the registry's 429 for busy.com; none: no 429
    QTest::addColumn<int>("wait"); // seconds until it may be asked again
    const QByteArray inTwoMinutes = QDateTime::currentDateTimeUtc()
                                        .addSecs(120)
                                        .toString("ddd, dd MMM yyyy hh:mm:ss 'GMT'")
                                        .toLatin1();
    QTest::newRow("own limit") << QByteArray() << 61;
    QTest::newRow("429, Retry-After in seconds") << QByteArray("120") << 121;
    QTest::newRow("429, Retry-After as an HTTP date") << inTwoMinutes << 121;
    QTest::newRow("429, Retry-After of three years") << QByteArray("99999999") << 3601;
}

void TestServiceRdap::limits()
{
    QFETCH(QByteArray, retryAfter);
    QFETCH(int, wait);
    const bool heldOff = !retryAfter.isEmpty();
    FakeRegistries upstream;
    FakeServer::Response busy {429, "{}"};
    busy.headers = {{"Retry-After", retryAfter}};
    upstream.rdap.route("/rdap/domain/busy.com", busy);
    for (const char* query : {"domain busy.com", "domain next.com"})
        upstream.whois.answer(query, whoisFixture("verisign-notfound.txt"));
    ServiceSettings settings = upstream.service(true);
    const int perMinute = heldOff ? 1000 : 4; // a lone client gets half
    settings.registries.perMinute = {perMinute, perMinute, perMinute};
    WhoisService service(settings);
    for (int i = 0; i < (heldOff ? 0 : 2); ++i)
        QCOMPARE(ask(service, QStringLiteral("free-%1.com").arg(i)).shown.at(1), kFree);
    // Limited by the service itself (busy.com not asked), or held off by the registry's 429.
    const auto lookUps = [&upstream] { // the bootstrap's fetch aside
        const auto targets = upstream.rdap.targets();
        return std::count_if(targets.begin(), targets.end(),
            [](const QByteArray& target) { return target.startsWith("/rdap/"); });
    };
    for (const char* domain : {"busy.com", "next.com"}) {
        const auto asked = lookUps();
        const Answer got = ask(service, domain);
        QCOMPARE(got.shown.at(1), heldOff ? kFree : kLimited);
        QCOMPARE(got.status, heldOff ? 200L : 503L);
        const bool first = qstrcmp(domain, "busy.com") == 0;
        QCOMPARE(lookUps(), asked + (first && heldOff ? 1 : 0));
    }
    QCOMPARE(upstream.whois.targets().size(), size_t(heldOff ? 2 : 0)); // port 43
    upstream.clockAhead = wait;
    QCOMPARE(ask(service, "free-4.com").shown.at(1), kFree); // over RDAP again
}

QTEST_GUILESS_MAIN(TestServiceRdap)
#include "test_service_rdap.moc"
