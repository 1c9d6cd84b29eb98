#pragma once

#include <atomic>
#include <memory>

#include "service/http/httpserver.h"
#include "service/http/site.h"
#include "service/limits.h"
#include "service/lookup/answercache.h"
#include "service/lookup/bootstrap.h"
#include "service/lookup/registries.h"
#include "service/lookup/timers.h"
#include "service/lookup/workpool.h"
#include "service/net/transfers.h"

struct ServiceSettings
{
    Endpoint listen {QHostAddress(QHostAddress::LocalHost), 8043};
    RegistrySettings registries;
    HttpLimits http;
    int workers = limits::kWorkers; // threads that run look-ups
    int queueLimit = limits::kWorkerQueue; // look-ups waiting for a thread to begin
    std::chrono::milliseconds budget = limits::kLookupBudget; // a whole look-up
    QString rdapBootstrap; // IANA's dns.json; empty: port 43 alone
    QString cacheDir; // where the bootstrap registry is kept
    qint64 cacheBytes = limits::kDefaultCacheBytes; // the pages kept for all clients
    QString dnsServers; // "address:port,…"; empty: the system's
};

// The whois web service: the whois pages the program reads, and the maker's banner and home
// page. Listens from construction to destruction; destruction answers every waiting client at
// once and ends every look-up.
class WhoisService
{
public:
    explicit WhoisService(ServiceSettings settings);
    ~WhoisService();
    WhoisService(const WhoisService&) = delete;
    WhoisService& operator=(const WhoisService&) = delete;

    quint16 port() const { return m_http->port(); }
    ServiceStatus status() const;
    // HTTP connections opened to upstreams since start, for the benchmarks.
    quint64 upstreamConnectionsOpened() const { return m_network.connectionsOpened(); }

private:
    struct Run;

    void handle(const HttpRequest& request, const Respond& respond);
    // A look-up of typed text, answered in form.
    void lookUp(const std::optional<QByteArray>& typed, Form form, const QString& client,
        const Respond& respond);
    // asked: the registries were asked, rather than the service refusing or stopping.
    void finish(const Run& run, const LookupResult& result, bool asked = true);
    void log(const QString& what, const LookupResult& result, Clock::time_point started) const;

    const ServiceSettings m_settings;
    const Clock::time_point m_started = Clock::now();
    std::atomic<bool> m_stopping {false};
    TaskCounter m_tasks;
    WorkPool m_pool;
    Transfers m_network;
    ClockTimers m_timers;
    Runtime m_runtime;
    std::unique_ptr<RdapBootstrap> m_bootstrap;
    Registries m_registries;
    AnswerCache m_cache;
    std::atomic<int> m_underWay {0};
    std::atomic<qint64> m_lookUps {0};
    std::atomic<qint64> m_fromCache {0};
    std::atomic<qint64> m_failures {0};
    std::unique_ptr<HttpServer> m_http;
};
