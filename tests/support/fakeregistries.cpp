#include "fakeregistries.h"

#include "query/cut.h"
#include "query/whois.h"

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
    iana.answer("com", whoisFixture("iana-com.txt"));
    for (const auto& [tld, server] : std::initializer_list<std::pair<const char*, const char*>> {
             {"org", "whois.publicinterestregistry.org"}, {"app", "whois.nic.google"},
             {"cn", "whois.cnnic.cn"}, {"uk", "whois.nic.uk"}, {"jp", "whois.jprs.jp"},
             {"de", "whois.denic.de"}, {"ru", "whois.tcinet.ru"}, {"test", "127.0.0.1"}}) {
        iana.answer(tld, ianaReferral(tld, server));
    }
    for (const auto& [query, fixture] : std::initializer_list<std::pair<const char*, const char*>> {
             {"domain example-shop.com", "verisign-com.txt"},
             {"domain free-name-42.com", "verisign-notfound.txt"},
             {"example-shop.com", "registrar-com.txt"}, {"example-charity.org", "pir-org.txt"},
             {"limited-charity.org", "pir-limit.txt"}, {"whois-tools.app", "nic-app.txt"},
             {"example.com.cn", "cnnic-cn.txt"}, {"xn--fiq228c.cn", "cnnic-cn.txt"},
             {"example-garden.co.uk", "nominet-uk.txt"}, {"example-kissa.jp/e", "jprs-jp.txt"},
             {"-T dn,ace beispiel-laden.de", "denic-de.txt"},
             {"-T dn,ace frei-und-offen.de", "denic-free.txt"},
             {"primer-magazin.ru", "tci-ru.txt"}}) {
        whois.answer(query, whoisFixture(fixture));
    }
    const QByteArray registryBase = rdap.base().toUtf8() + "/rdap/";
    rdap.route("/dns.json",
        {200, R"({"version":"1.0","services":[[["com","org"],[")" + registryBase + R"("]]]})"});
    rdap.route("/rdap/domain/example-shop.com",
        {200,
            rdapFixture("registry-com.json")
                .replace("{registry}", registryBase)
                .replace("{registrar}", registrar.base().toUtf8() + "/rdap/")});
    registrar.route("/rdap/domain/EXAMPLE-SHOP.COM", {200, rdapFixture("registrar-com.json")});
    rdap.route("/rdap/domain/example-charity.org", {200, rdapFixture("registry-org.json")});
}

RegistrySettings FakeRegistries::settings()
{
    RegistrySettings settings;
    settings.ianaHost = "127.0.0.2";
    settings.ianaPort = iana.port();
    settings.allowLoopback = true;
    settings.resolve = [this](const QString& host, quint16, Deadline) -> std::vector<Endpoint> {
        if (host == "127.0.0.2")
            return {{QHostAddress(host), iana.port()}};
        if (host == "127.0.0.1")
            return {{QHostAddress(host), elsewhere.port()}};
        if (host == "whois.slow.test")
            return {{QHostAddress("127.0.0.4"), slow.port()}};
        return {{QHostAddress("127.0.0.3"), whois.port()}};
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

ServiceSettings onLoopback(const RegistrySettings& registries)
{
    ServiceSettings settings;
    settings.listen = {QHostAddress::LocalHost, 0};
    settings.registries = registries;
    return settings;
}

Answer ask(const WhoisService& service, const QString& typed)
{
    const HttpGot got
        = httpRequest(QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=%2")
                          .arg(service.port())
                          .arg(QString::fromLatin1(typed.toUtf8().toPercentEncoding())));
    QString page = decodeAnsi(got.body);
    const WhoisFacts facts = readWhoisPage(StripBlanks(page));
    return {
        got.status, {facts.cop, facts.truename, facts.mail, facts.bdate, facts.edate}, got.headers};
}
