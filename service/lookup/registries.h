#pragma once

#include <mutex>
#include <optional>

#include <QHash>

#include "service/lookup/bootstrap.h"
#include "service/lookup/hops.h"
#include "service/lookup/rdap.h"
#include "service/lookup/singleflight.h"

// Looks a registrable domain up at the registries: over RDAP where the bootstrap registry lists
// the TLD, over port 43 otherwise and when RDAP fails (IANA names the TLD's whois server, which
// may refer to the registrar's). Each look-up is one coroutine; however many wait, none holds a
// thread, and IANA is asked once per TLD however many look-ups need its answer at once.
class Registries
{
public:
    // bootstrap: none for port 43 alone.
    Registries(RegistrySettings settings, Runtime runtime, RdapBootstrap* bootstrap = nullptr);

    // Looks request's domain up; done is called once with the result, on a thread of the
    // runtime's. What a look-up throws is its own failure, never the process's.
    void start(LookupRequest request, std::function<void(LookupResult)> done);
    Task<LookupResult> lookUp(LookupRequest request);
    // Every waiting look-up goes on at once, told the service stops.
    void stop();

    const RegistrySettings& settings() const { return m_hops.settings(); }
    Turns& turns() { return m_hops.turns(); }

private:
    // A TLD's whois server as IANA names it.
    struct TldServer
    {
        std::optional<QString> server; // none: IANA knows no such TLD
        Clock::time_point until {};
        Failure failure = Failure::None; // IANA could not be asked, or its answer made no sense
        QString detail;
    };

    Detached run(LookupRequest request, std::function<void(LookupResult)> done);
    Task<LookupResult> overPort43(const LookupRequest& request);
    Task<TldServer> tldServer(QString tld, const LookupRequest& request, LookupResult& result);
    Task<TldServer> askIana(QString tld, LookupRequest request, LookupResult* result);

    Hops m_hops;
    RdapBootstrap* const m_bootstrap;
    std::optional<RdapLookUp> m_rdap;
    SingleFlight<TldServer> m_iana;
    std::mutex m_mutex;
    QHash<QString, TldServer> m_tldServers;
};

// A referral a registry or registrar gave that may be followed: a host name, or an address
// literal, with no scheme, port or path.
bool isReferralHost(const QString& value);
