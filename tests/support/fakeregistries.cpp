#include "fakeregistries.h"

#include "whoispage/cut.h"
#include "whoispage/whois.h"

QByteArray ianaReferral(const char* tld, const char* server)
{
    return QStringLiteral(
        "% IANA WHOIS server\n\nrefer:        %2\n\ndomain:       %1\n\nwhois:        %2\n")
        .arg(QString::fromLatin1(tld).toUpper(), QLatin1String(server))
        .toUtf8();
}

FakeRegistries::FakeRegistries()
{
    iana.fallback(whoisFixture("iana-unknown.txt"));
    FakeServer* const servers[] = {&iana, &whois, &rdap, &registrar};
    const QByteArray registries = rdap.base().toUtf8() + "/rdap/";
    const QByteArray registrars = registrar.base().toUtf8() + "/rdap/";
    for (const QStringList& row : tableOf("answers.tsv")) { // server, query or path, answer
        const QByteArray key = row[1].toUtf8(), name = row[2].toUtf8();
        QByteArray text = name.endsWith(".txt") ? whoisFixture(name.constData())
            : name.endsWith(".json")            ? rdapFixture(name.constData())
                                                : ianaReferral(key.constData(), name.constData());
        servers[QStringList {"iana", "whois", "rdap", "registrar"}.indexOf(row[0])]->answer(
            key, text.replace("{registry}", registries).replace("{registrar}", registrars));
    }
}

RegistrySettings FakeRegistries::settings()
{
    RegistrySettings settings;
    settings.ianaHost = "127.0.0.2";
    settings.ianaPort = iana.port();
    settings.allowLoopback = true;
    settings.hosts = [this](const QString& host, quint16) -> std::optional<std::vector<Endpoint>> {
        if (broken.contains(host))
            throw std::runtime_error("broken on purpose");
        if (const auto moved = addresses.find(host); moved != addresses.end())
            return moved->second;
        if (host == "127.0.0.2" || host == "127.0.0.1")
            return {{{QHostAddress(host), (host == "127.0.0.2" ? iana : elsewhere).port()}}};
        // Other addresses are what they say; names under dns.test are left to DNS, which a test
        // may point at a fake.
        if (!QHostAddress(host).isNull() || host.endsWith(".dns.test"))
            return std::nullopt;
        const bool isSlow = host.endsWith("slow.test");
        return {
            {{QHostAddress(isSlow ? "127.0.0.4" : "127.0.0.3"), (isSlow ? slow : whois).port()}}};
    };
    settings.now = [this] { return Clock::now() + std::chrono::seconds(clockAhead); };
    return settings;
}

ServiceSettings FakeRegistries::service(bool withRdap)
{
    ServiceSettings service = onLoopback(settings());
    if (withRdap) {
        service.rdapBootstrap = rdap.base() + "/dns.json";
        service.cacheDir = cache.path();
    }
    return service;
}

Answer FakeRegistries::lookUp(const QString& typed, bool rdap)
{
    return ask(WhoisService(service(rdap)), typed);
}

QStringList shownFor(const QString& typed)
{
    for (const QStringList& row : tableOf("formats.tsv"))
        if (row[1] == typed)
            return row.mid(4);
    qFatal("no row for %s in formats.tsv", qPrintable(typed));
}

ServiceSettings onLoopback(const RegistrySettings& registries)
{
    ServiceSettings settings;
    settings.listen = {QHostAddress::LocalHost, 0};
    settings.registries = registries;
    return settings;
}

Answer ask(const WhoisService& service, const QString& typed, const QList<QByteArray>& headers)
{
    const HttpGot got = httpRequest(
        QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=").arg(service.port())
            + typed.toUtf8().toPercentEncoding(),
        "GET", headers);
    QString page = decodeAnsi(got.body);
    const WhoisFacts facts = readWhoisPage(stripBlanks(page));
    return {
        got.status, {facts.cop, facts.truename, facts.mail, facts.bdate, facts.edate}, got.headers};
}
