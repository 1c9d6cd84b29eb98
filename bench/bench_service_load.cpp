// The whois service under many connections and against a slow registry, on loopback: how many
// queries are answered and how fast while idle and byte-a-second clients hold connections, and
// how a flood of distinct domains for one slow server ends. The service and its fake registries
// run in this process; the clients are raw sockets driven here.
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <numeric>
#include <thread>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QMap>

#include "bench/procstat.h"
#include "whoispage/cut.h"
#include "whoispage/whois.h"
#include "support/fakeregistries.h"

namespace {

// A client on a raw socket: sends its request whole, a byte a second, or not at all.
struct RawClient
{
    enum Kind { Query, Slow, Idle } kind;
    QByteArray request;
    qint64 startMs = 0; // when it connects
    int fd = -1;
    qsizetype sent = 0;
    QByteArray got;
    qint64 tookMs = -1; // from connecting to the end of the answer
};

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    return fd;
}

QByteArray request(const QByteArray& domain)
{
    return "GET /cgi-bin/whois?domain=" + domain
        + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

double mb(long long kb)
{
    return double(kb) / 1024;
}

// Connects every client when its time comes and drives it, until the querying ones have their
// answers or time is up.
void drive(std::vector<RawClient>& clients, quint16 port, std::chrono::seconds limit)
{
    QElapsedTimer clock;
    clock.start();
    qint64 nextSlowByte = 0;
    for (;;) {
        std::vector<pollfd> fds;
        for (RawClient& c : clients) {
            if (c.fd < 0 && clock.elapsed() >= c.startMs)
                c.fd = connectTo(port);
            short events = c.fd < 0 || c.tookMs >= 0 ? 0 : POLLIN;
            if (c.kind == RawClient::Query && c.sent < c.request.size())
                events |= POLLOUT;
            fds.push_back({c.fd, events, 0});
        }
        const bool allAnswered = std::all_of(clients.begin(), clients.end(),
            [](const RawClient& c) { return c.kind != RawClient::Query || c.tookMs >= 0; });
        if (allAnswered || clock.elapsed() > limit.count() * 1000)
            return;
        ::poll(fds.data(), fds.size(), 50);
        for (size_t i = 0; i < clients.size(); ++i) {
            RawClient& c = clients[i];
            if (fds[i].revents & POLLOUT) {
                const ssize_t n = ::send(c.fd, c.request.constData() + c.sent,
                    size_t(c.request.size() - c.sent), MSG_NOSIGNAL);
                c.sent += std::max<ssize_t>(n, 0);
            }
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[8192];
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n > 0)
                    c.got.append(buffer, n);
                else
                    c.tookMs = clock.elapsed() - c.startMs;
            }
        }
        if (clock.elapsed() >= nextSlowByte) { // one byte a second
            nextSlowByte += 1000;
            for (RawClient& c : clients) {
                if (c.kind == RawClient::Slow && c.sent < c.request.size())
                    c.sent += std::max<ssize_t>(
                        ::send(c.fd, c.request.constData() + c.sent, 1, MSG_NOSIGNAL), 0);
            }
        }
    }
}

// 1000 connections over 3 s: 250 idle, 250 sending a byte a second, 500 querying in ten waves,
// most for a domain already kept, some for one of 40 new ones.
void BM_ThousandConnections(benchmark::State& state)
{
    FakeRegistries registries;
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    ServiceSettings settings = registries.service();
    settings.registries.perMinute = {1000, 1000, 1000};
    settings.http.perClient = 1000; // one address stands for many clients here
    WhoisService service(settings);
    ask(service, "example.com.cn");
    const double before = mb(rssKb(getpid()));
    std::vector<RawClient> clients;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            const RawClient::Kind kind = i % 2 ? RawClient::Query
                : i % 4                        ? RawClient::Slow
                                               : RawClient::Idle;
            const QByteArray domain
                = i % 10 == 1 ? "d" + QByteArray::number(i % 40) + ".cn" : "example.com.cn";
            clients.push_back(
                {kind, request(domain), kind == RawClient::Query ? 300 * (i % 10) : 0});
        }
        drive(clients, service.port(), std::chrono::seconds(20));
    }
    int answered = 0;
    qint64 slowest = 0;
    for (const RawClient& c : clients) {
        if (c.kind == RawClient::Query && c.got.startsWith("HTTP/1.1 200")
            && c.got.contains("\r\n\r\nDomain Name:")) {
            ++answered;
            slowest = std::max(slowest, c.tookMs);
        }
    }
    const int stillOpen = int(std::count_if(clients.begin(), clients.end(), [](const RawClient& c) {
        pollfd p {c.fd, POLLIN, 0};
        return c.kind != RawClient::Query && ::poll(&p, 1, 0) == 0;
    }));
    for (RawClient& c : clients)
        ::close(c.fd);
    state.counters["answered_of_500"] = answered;
    state.counters["slowest_ms"] = double(slowest);
    state.counters["held_still_open_of_500"] = stillOpen;
    state.counters["memory_before_MB"] = before;
    state.counters["memory_peak_MB"] = mb(peakRssKb(getpid()));
    state.counters["memory_after_MB"] = mb(rssKb(getpid()));
}

// 300 distinct domains, all for one server taking a second per answer, with a 3 s budget: how
// long until all are answered, how they end, and the home page's time meanwhile.
void BM_FloodAgainstSlowUpstream(benchmark::State& state)
{
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.slow.test"));
    FakeServer::Response late {200, "Registrar: Slow Registrar\nCreation Date: 2001-01-01\n"};
    late.manner = Manner::Late;
    registries.slow.fallback(late);
    ServiceSettings settings = registries.service();
    settings.budget = std::chrono::seconds(3);
    settings.http.perClient = 1000;
    WhoisService service(settings);
    std::vector<RawClient> clients;
    qint64 took = 0, homeTook = -1;
    for (auto _ : state) {
        for (int i = 0; i < 300; ++i)
            clients.push_back(
                {RawClient::Query, request("flood-" + QByteArray::number(i) + ".xyz")});
        QElapsedTimer clock;
        clock.start();
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500)); // in the thick of it
            QElapsedTimer home;
            home.start();
            if (httpRequest(QStringLiteral("http://127.0.0.1:%1/").arg(service.port())).status
                == 200)
                homeTook = home.elapsed();
        });
        drive(clients, service.port(), std::chrono::seconds(20));
        took = clock.elapsed();
        other.join();
    }
    QMap<QString, int> outcomes;
    for (RawClient& c : clients) {
        ::close(c.fd);
        QString page = decodeAnsi(c.got.mid(c.got.indexOf("\r\n\r\n") + 4));
        const WhoisFacts facts = readWhoisPage(stripBlanks(page));
        outcomes[facts.cop.isEmpty() ? facts.truename : QStringLiteral("registered")] += 1;
    }
    state.counters["all_answered_ms"] = double(took);
    state.counters["answered_of_300"] = std::accumulate(outcomes.cbegin(), outcomes.cend(), 0);
    state.counters["registered"] = outcomes.value("registered");
    state.counters["unavailable"] = outcomes.value(kUnavailable);
    state.counters["rate_limited"] = outcomes.value(kLimited);
    state.counters["home_page_ms"] = double(homeTook);
    state.counters["memory_peak_MB"] = mb(peakRssKb(getpid()));
}

// The TLDs of the crowd below: ICANN ones under which a name is registrable.
const char* const kCrowdTlds[] = {"xyz", "top", "club", "shop", "site", "online", "store", "tech",
    "app", "dev", "io", "co", "me", "tv", "cc", "info", "biz", "org", "net", "de", "fr", "it", "nl",
    "be", "ch", "at", "se", "no", "dk", "fi", "pl", "cz", "sk", "hu", "ro", "bg", "gr", "pt", "es",
    "ie", "jp", "kr", "tw", "sg", "in", "ca", "us", "mx", "ru", "ua"};

// The service's own threads now, its HTTP server's fixed event loops aside: the workers, the
// network loop, the timers and the reaper, as they name themselves.
int threadCount()
{
    int own = 0;
    for (const QString& task :
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        own += name.open(QIODevice::ReadOnly) && name.readAll().startsWith("whois-") ? 1 : 0;
    }
    return own;
}

// 2,000 distinct domains at once over 50 TLDs the service has not seen, against IANA and
// registries that each take 200 ms per answer, allowances raised: how often IANA is asked, how
// the look-ups end and in what time, the service's threads and memory, and the latency of a kept
// page asked meanwhile by another client. Then, with stop: how long the service takes to stop
// with all of them in flight.
void crowdOverFiftyTlds(benchmark::State& state, bool stop)
{
    FakeRegistries registries;
    const auto slowly = [](FakeServer::Response response) {
        response.onRequest = [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); };
        return response;
    };
    for (const char* tld : kCrowdTlds)
        registries.iana.route(tld,
            slowly({200,
                ianaReferral(tld, qPrintable(QStringLiteral("whois.nic-%1.slow.test").arg(tld)))}));
    registries.slow.fallback(
        slowly({200, "Registrar: Slow Registrar\nCreation Date: 2001-01-01\n"}));
    registries.whois.fallback(whoisFixture("cnnic-cn.txt"));
    RegistrySettings upstreams = registries.settings(); // names under slow.test lead to it
    upstreams.perMinute = {1000000, 1000000, 1000000};
    ServiceSettings settings = onLoopback(upstreams);
    settings.http.perClient = 100000;
    WhoisService* service = new WhoisService(settings);
    ask(*service, "example.com.cn"); // the page the other client asks for, kept
    const QString kept = QStringLiteral("http://127.0.0.1:%1/cgi-bin/whois?domain=example.com.cn")
                             .arg(service->port());
    const auto p99 = [](std::vector<qint64> us) {
        std::sort(us.begin(), us.end());
        return us.empty() ? -1.0 : double(us[us.size() * 99 / 100]) / 1000;
    };
    std::vector<qint64> idleUs;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        httpRequest(kept);
        idleUs.push_back(one.nsecsElapsed() / 1000);
    }
    const quint16 port = service->port();
    const int threadsBefore = threadCount();
    const double memoryBefore = mb(rssKb(getpid()));
    std::vector<RawClient> clients;
    std::atomic<bool> crowdDone {false};
    std::vector<qint64> busyUs;
    int threadsMost = threadsBefore;
    double memoryMost = memoryBefore;
    qint64 stopMs = -1;
    for (auto _ : state) {
        for (int i = 0; i < 2000; ++i)
            clients.push_back({RawClient::Query,
                request("crowd-" + QByteArray::number(i) + "." + kCrowdTlds[i % 50])});
        std::thread other([&] {
            while (!crowdDone) {
                QElapsedTimer one;
                one.start();
                httpRequest(kept);
                busyUs.push_back(one.nsecsElapsed() / 1000);
                threadsMost = std::max(threadsMost, threadCount());
                memoryMost = std::max(memoryMost, mb(rssKb(getpid())));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::thread stopper([&] {
            if (!stop)
                return;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            crowdDone = true;
            QElapsedTimer clock;
            clock.start();
            delete service;
            service = nullptr;
            stopMs = clock.elapsed();
        });
        drive(clients, port, std::chrono::seconds(30));
        crowdDone = true;
        stopper.join();
        other.join();
    }
    QMap<QString, int> outcomes;
    qint64 slowest = 0;
    int late = 0;
    for (RawClient& c : clients) {
        ::close(c.fd);
        slowest = std::max(slowest, c.tookMs);
        late += c.tookMs < 0 || c.tookMs > 12000 ? 1 : 0;
        QString page = decodeAnsi(c.got.mid(c.got.indexOf("\r\n\r\n") + 4));
        const WhoisFacts facts = readWhoisPage(stripBlanks(page));
        outcomes[facts.cop.isEmpty() ? facts.truename : QStringLiteral("registered")] += 1;
    }
    state.counters["iana_asked"] = double(registries.iana.targets().size());
    state.counters["registered"] = outcomes.value("registered");
    state.counters["rate_limited"] = outcomes.value(kLimited);
    state.counters["unavailable"] = outcomes.value(kUnavailable);
    state.counters["past_budget"] = late;
    state.counters["slowest_ms"] = double(slowest);
    state.counters["service_threads_before"] = threadsBefore;
    state.counters["service_threads_most"] = threadsMost;
    state.counters["memory_before_MB"] = memoryBefore;
    state.counters["memory_most_MB"] = memoryMost;
    state.counters["kept_page_p99_idle_ms"] = p99(idleUs);
    state.counters["kept_page_p99_meanwhile_ms"] = p99(busyUs);
    if (stop)
        state.counters["stop_ms"] = double(stopMs);
    delete service;
}

// 400 look-ups under one registry whose thin answers are 1,000,000 bytes each, every one waiting
// for a registrar of its own that never answers: the memory they hold while they wait, and
// after they have all ended.
void BM_WaitingLookUpsHoldFacts(benchmark::State& state)
{
    FakeRegistries registries;
    registries.iana.answer("xyz", ianaReferral("xyz", "whois.registry.test"));
    constexpr int kLookUps = 400;
    QByteArray padding;
    while (padding.size() < 1000000 - 200)
        padding += "% " + QByteArray(96, 'x') + "\n";
    for (int i = 0; i < kLookUps; ++i)
        registries.whois.answer(QStringLiteral("wait-%1.xyz").arg(i).toUtf8(),
            QStringLiteral("Domain Name: wait-%1.xyz\nRegistrar WHOIS Server: whois.r%1.slow.test\n"
                           "Registrar: Thin Registry Inc.\nCreation Date: 2001-01-01\n")
                    .arg(i)
                    .toUtf8()
                + padding);
    registries.slow.fallback({200, {}, true, true}); // every registrar hangs
    ServiceSettings settings = registries.service();
    settings.registries.perMinute = {1000000, 1000000, 1000000};
    settings.http.perClient = 100000;
    auto service = std::make_unique<WhoisService>(settings);
    const double before = mb(rssKb(getpid()));
    std::vector<RawClient> clients;
    double most = before;
    for (auto _ : state) {
        for (int i = 0; i < kLookUps; ++i)
            clients.push_back(
                {RawClient::Query, request("wait-" + QByteArray::number(i) + ".xyz")});
        std::atomic<bool> done {false};
        std::thread watch([&] {
            while (!done) {
                most = std::max(most, mb(rssKb(getpid())));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        drive(clients, service->port(), std::chrono::seconds(30));
        done = true;
        watch.join();
    }
    for (RawClient& c : clients)
        ::close(c.fd);
    state.counters["memory_before_MB"] = before;
    state.counters["memory_most_MB"] = most;
    state.counters["memory_after_MB"] = mb(rssKb(getpid()));
    state.counters["answered"] = double(std::count_if(
        clients.begin(), clients.end(), [](const RawClient& c) { return c.tookMs >= 0; }));
}

void BM_CrowdOverFiftyTlds(benchmark::State& state)
{
    crowdOverFiftyTlds(state, false);
}

void BM_StopWithCrowdInFlight(benchmark::State& state)
{
    crowdOverFiftyTlds(state, true);
}

} // namespace

BENCHMARK(BM_WaitingLookUpsHoldFacts)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrowdOverFiftyTlds)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StopWithCrowdInFlight)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThousandConnections)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodAgainstSlowUpstream)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char* argv[])
{
    rlimit files {};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &files);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
