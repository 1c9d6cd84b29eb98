#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "service/net/network.h"

// The service's network on one event loop, on one thread of its own: every HTTP fetch on one
// libcurl multi handle (so connections and TLS sessions are kept between look-ups), every whois
// exchange on a non-blocking socket, and every name resolved by c-ares, their sockets all polled
// together. libcurl never resolves a name itself: each fetch hands it the addresses c-ares found,
// so no resolver can block the loop. The loop only moves bytes and reports; nothing on it waits.
class Transfers final : public Network
{
public:
    struct Settings
    {
        // DNS servers as "address:port,…"; empty: the system's (/etc/resolv.conf).
        QString dnsServers;
    };

    explicit Transfers(Settings settings = {});
    ~Transfers() override;
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    void resolve(const QString& host, std::chrono::milliseconds limit,
        std::function<void(Resolved)> done) override;
    void fetch(FetchRequest request, std::function<void(HttpFetch)> done) override;
    void exchange(const Endpoint& to, const QByteArray& query, std::chrono::milliseconds limit,
        std::function<void(Exchange)> done) override;
    void stop() override;

    // HTTP connections opened to upstreams since start, for the benchmarks.
    quint64 connectionsOpened() const { return m_opened; }

    struct Loop; // the loop thread's own state

private:
    // Runs job on the loop thread; false once the network has stopped.
    bool post(std::function<void(Loop&)> job);

    std::mutex m_mutex;
    std::vector<std::function<void(Loop&)>> m_inbox;
    bool m_stopping = false;
    std::atomic<quint64> m_opened {0};
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
};
