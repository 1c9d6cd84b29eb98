#pragma once

#include <mutex>
#include <optional>

#include <QHash>

#include "service/lookup/politeness.h"
#include "service/reading/record.h"
#include "service/net/upstream.h"

struct RegistrySettings
{
    // Where TLDs' whois servers are asked for; the operator's choice, so never refused.
    QString ianaHost = QStringLiteral("whois.iana.org");
    quint16 ianaPort = 43;
    // Tests only: upstreams in 127.0.0.0/8 may be reached.
    bool allowLoopback = false;
    Allowances perMinute; // queries a minute to each upstream server, by its kind
    Resolver resolve = systemResolve;
    std::function<Clock::time_point()> now = Clock::now;
};

// Looks a registrable domain up at the registries: over RDAP where the bootstrap registry lists
// the TLD, over port 43 otherwise and when RDAP fails (IANA names the TLD's whois server, which
// may refer to the registrar's). Safe to call from many threads at once.
class RdapClient;

class Registries
{
public:
    // rdap: none for port 43 alone.
    explicit Registries(RegistrySettings settings, RdapClient* rdap = nullptr);

    LookupResult lookUp(const QString& domain, Deadline deadline);

    const RegistrySettings& settings() const { return m_settings; }
    Politeness& politeness() { return m_politeness; }

private:
    struct Asked
    {
        QByteArray answer;
        std::optional<Outcome> failure; // RateLimited or Unavailable
        QString why; // of the failure
    };

    LookupResult overPort43(const QString& domain, Deadline deadline);
    // The whois server of a TLD by IANA, cached for a day; empty when the TLD has none or IANA
    // failed (result says why), none when IANA says it has no such TLD.
    std::optional<QString> tldServer(const QString& tld, Deadline deadline, LookupResult& result);
    // Throws Parked when the look-up now waits for the server.
    Asked ask(const QString& host, quint16 port, const QByteArray& query, bool operatorsChoice,
        Deadline deadline, LookupResult& result, Upstream kind = Upstream::Registry);
    // Asks the first of endpoints on the transfer thread, the next on failure; hears the answer
    // into the look-up, leaves the server and resumes the look-up.
    void talk(const std::shared_ptr<Lookup>& lookup, const QString& host, const QString& key,
        std::vector<Endpoint> endpoints, const QByteArray& query, Deadline deadline);

    struct TldServer
    {
        std::optional<QString> server;
        Clock::time_point until;
        QString failure; // IANA's answer made no sense: kept briefly, as a failure
    };

    const RegistrySettings m_settings;
    RdapClient* const m_rdap;
    Politeness m_politeness;
    std::mutex m_mutex;
    QHash<QString, TldServer> m_tldServers;
};

// A referral a registry or registrar gave that may be followed: a host name, or an address
// literal, with no scheme, port or path.
bool isReferralHost(const QString& value);
