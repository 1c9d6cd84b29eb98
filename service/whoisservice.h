#pragma once

#include <atomic>
#include <memory>

#include "service/lookup/answercache.h"
#include "service/http/httpserver.h"
#include "service/lookup/rdap.h"
#include "service/lookup/registries.h"
#include "service/http/site.h"
#include "service/lookup/workpool.h"

struct ServiceSettings
{
    Endpoint listen {QHostAddress(QHostAddress::LocalHost), 8043};
    RegistrySettings registries;
    HttpLimits http;
    int workers = 32; // look-ups under way at once
    int queueLimit
        = 1000; // look-ups waiting for a worker; a look-up waiting for a server needs none
    std::chrono::milliseconds budget {12000}; // a whole look-up, from the first asking client
    QString rdapBootstrap; // IANA's dns.json; empty: port 43 alone
    QString cacheDir; // where the bootstrap registry is kept
    qint64 cacheBytes = kDefaultCacheBytes; // the pages kept for all clients
};

// The whois web service: the whois pages the program reads, and the maker's banner and home
// page. Listens from construction to destruction.
class WhoisService
{
public:
    explicit WhoisService(ServiceSettings settings);
    ~WhoisService();
    WhoisService(const WhoisService&) = delete;
    WhoisService& operator=(const WhoisService&) = delete;

    quint16 port() const { return m_http->port(); }
    ServiceStatus status() const;

private:
    struct Run;

    void handle(const HttpRequest& request, const Respond& respond);
    void whois(
        const std::optional<QByteArray>& typed, const QString& client, const Respond& respond);
    // Puts a look-up (back) on a worker; a look-up already running runs again when it parks.
    void schedule(const std::shared_ptr<Run>& run);
    void lookUp(const std::shared_ptr<Run>& run);
    // asked: the registries were asked, rather than the service refusing or stopping.
    void finish(const Run& run, const LookupResult& result, bool asked = true);
    void log(const QString& what, const LookupResult& result, Clock::time_point started) const;

    const ServiceSettings m_settings;
    const Clock::time_point m_started = Clock::now();
    const std::shared_ptr<std::atomic<bool>> m_stopping
        = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<RdapBootstrap> m_bootstrap;
    std::unique_ptr<RdapClient> m_rdap;
    Registries m_registries;
    AnswerCache m_cache;
    WorkPool m_pool;
    std::atomic<qint64> m_lookUps {0};
    std::atomic<qint64> m_fromCache {0};
    std::atomic<qint64> m_failures {0};
    std::unique_ptr<HttpServer> m_http;
};
