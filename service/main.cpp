// domain-whois-service: the whois web service behind the program's fixed address.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

#include "service/whoisservice.h"

namespace {

// "HOST:PORT", "[V6]:PORT", or HOST alone with the default port.
std::optional<std::pair<QString, quint16>> hostAndPort(const QString& text, quint16 defaultPort)
{
    QString host = text;
    quint16 port = defaultPort;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon > 0 && (text.count(u':') == 1 || text.startsWith(u'['))) {
        bool ok = false;
        port = quint16(text.mid(colon + 1).toUInt(&ok));
        if (!ok)
            return std::nullopt;
        host = text.left(colon);
    }
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return std::nullopt;
    return std::pair {host, port};
}

// An exclusive lock on file is granted once every shared one is let go: then the service stops
// as if told to. The lock is taken on a thread of its own, which the stop leaves behind.
void stopWhenUnlocked(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "domain-whois-service: cannot open %s: %s\n", qPrintable(file),
            strerror(errno));
        return;
    }
    std::thread([fd] {
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) { }
        std::fprintf(stderr, "domain-whois-service: no program runs any more; stopping\n");
        ::kill(::getpid(), SIGTERM);
    }).detach();
}

[[noreturn]] void usageError(const QString& message)
{
    std::fprintf(stderr, "domain-whois-service: %s\n", qPrintable(message));
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("domain-whois-service"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The whois web service of domain-whois: answers GET /cgi-bin/whois?domain=NAME with a GBK\n"
        "page the program reads and GET /rdap/domain/NAME with an RDAP domain object, from\n"
        "look-ups at the registries, and serves the banner (/ad/ad2.html) and the home page (/).\n"
        "Logs one line per look-up to standard error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Address and port to listen on (default 127.0.0.1:8043)."),
        QStringLiteral("ADDR:PORT"), QStringLiteral("127.0.0.1:8043"));
    const QCommandLineOption iana(QStringLiteral("iana-whois"),
        QStringLiteral("Whois server that names each TLD's server (default whois.iana.org:43). "
                       "Always allowed, even on loopback."),
        QStringLiteral("HOST[:PORT]"), QStringLiteral("whois.iana.org:43"));
    const QCommandLineOption loopback(QStringLiteral("allow-loopback-upstreams"),
        QStringLiteral("Tests only: referrals and resolved addresses in 127.0.0.0/8 may be "
                       "reached. Private, link-local and multicast ones stay refused."));
    const QCommandLineOption bootstrap(QStringLiteral("rdap-bootstrap"),
        QStringLiteral("IANA's RDAP bootstrap registry for domains, fetched at run time and "
                       "refreshed daily (default https://data.iana.org/rdap/dns.json). Empty: "
                       "port 43 alone."),
        QStringLiteral("URL"), QStringLiteral("https://data.iana.org/rdap/dns.json"));
    const QCommandLineOption dnsServers(QStringLiteral("dns-servers"),
        QStringLiteral("Name servers to resolve upstreams' names with, as ADDR:PORT,... "
                       "(default: those of /etc/resolv.conf)."),
        QStringLiteral("LIST"));
    const QCommandLineOption cacheDir(QStringLiteral("cache-dir"),
        QStringLiteral("Where the bootstrap registry is kept between runs (default %1).")
            .arg(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)),
        QStringLiteral("DIR"), QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    const QCommandLineOption whileLocked(QStringLiteral("while-locked"),
        QStringLiteral(
            "Stop once nobody holds a shared lock on FILE any more (flock(2)). The "
            "program's launcher holds one for as long as each copy of the program runs."),
        QStringLiteral("FILE"));
    const QCommandLineOption cacheSize(QStringLiteral("cache-mib"),
        QStringLiteral("Memory the pages kept for all clients may take, in MiB (default %1); "
                       "the stalest go first.")
            .arg(limits::kDefaultCacheBytes >> 20),
        QStringLiteral("MIB"), QString::number(limits::kDefaultCacheBytes >> 20));
    const QCommandLineOption trustProxy(QStringLiteral("trust-proxy"),
        QStringLiteral("A reverse proxy whose X-Forwarded-For names the client (repeatable). "
                       "Other peers are the clients themselves."),
        QStringLiteral("ADDR"));
    const QCommandLineOption perClient(QStringLiteral("connections-per-client"),
        QStringLiteral("Connections one client address may hold open (default 64)."),
        QStringLiteral("N"), QStringLiteral("64"));
    const Allowances allowances;
    const QCommandLineOption ianaRate(QStringLiteral("iana-per-minute"),
        QStringLiteral("Queries a minute to IANA's whois server (default %1).")
            .arg(allowances.iana),
        QStringLiteral("N"), QString::number(allowances.iana));
    const QCommandLineOption registryRate(QStringLiteral("registry-per-minute"),
        QStringLiteral("Queries a minute to each registry's RDAP or whois server (default %1).")
            .arg(allowances.registry),
        QStringLiteral("N"), QString::number(allowances.registry));
    const QCommandLineOption registrarRate(QStringLiteral("registrar-per-minute"),
        QStringLiteral("Queries a minute to each registrar's RDAP or whois server (default %1). "
                       "Each allowance is shared out between the clients asking.")
            .arg(allowances.registrar),
        QStringLiteral("N"), QString::number(allowances.registrar));
    parser.addOptions({listen, iana, loopback, bootstrap, dnsServers, cacheDir, whileLocked,
        trustProxy, perClient, ianaRate, registryRate, registrarRate, cacheSize});
    parser.process(app);

    ServiceSettings settings;
    const auto at = hostAndPort(parser.value(listen), 8043);
    if (!at || QHostAddress(at->first).isNull())
        usageError(QStringLiteral("--listen wants ADDR:PORT with a numeric address"));
    settings.listen = {QHostAddress(at->first), at->second};
    const auto ianaAt = hostAndPort(parser.value(iana), 43);
    if (!ianaAt)
        usageError(QStringLiteral("--iana-whois wants HOST[:PORT]"));
    settings.registries.ianaHost = ianaAt->first;
    settings.registries.ianaPort = ianaAt->second;
    settings.registries.allowLoopback = parser.isSet(loopback);
    settings.rdapBootstrap = parser.value(bootstrap);
    settings.cacheDir = parser.value(cacheDir);
    settings.dnsServers = parser.value(dnsServers);
    bool sized = false;
    const qint64 mib = parser.value(cacheSize).toLongLong(&sized);
    if (!sized || mib <= 0 || mib > (qint64(1) << 30))
        usageError(QStringLiteral("--cache-mib wants a positive number"));
    settings.cacheBytes = mib << 20;
    for (const QString& proxy : parser.values(trustProxy)) {
        if (QHostAddress(proxy).isNull())
            usageError(QStringLiteral("--trust-proxy wants a numeric address"));
        settings.http.trustedProxies.push_back(QHostAddress(proxy));
    }
    const auto count = [&parser](const QCommandLineOption& option) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 1)
            usageError(QStringLiteral("--%1 wants a positive number").arg(option.names().first()));
        return value;
    };
    settings.http.perClient = unsigned(count(perClient));
    settings.registries.perMinute = {count(ianaRate), count(registryRate), count(registrarRate)};

    // Thousands of clients at once need thousands of descriptors.
    rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Runs until told to stop; the service's own threads do the work.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        WhoisService service(settings);
        std::fprintf(stderr, "domain-whois-service: listening on http://%s:%u\n",
            qPrintable(settings.listen.address.toString()), unsigned(service.port()));
        if (parser.isSet(whileLocked))
            stopWhenUnlocked(parser.value(whileLocked));
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "domain-whois-service: %s\n", error.what());
        return 1;
    }
    return 0;
}
