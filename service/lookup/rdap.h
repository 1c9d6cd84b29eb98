#pragma once

#include <optional>

#include "service/lookup/bootstrap.h"
#include "service/lookup/hops.h"
#include "service/reading/rdapreading.h"

// Looks domains up over RDAP at the servers the bootstrap names, following a thin registry's
// link to the registrar's answer.
class RdapLookUp
{
public:
    RdapLookUp(Hops& hops, RdapBootstrap& bootstrap) : m_hops(hops), m_bootstrap(bootstrap) { }

    // None when the bootstrap names no RDAP server for the domain's TLD. Otherwise Registered,
    // NotRegistered or RateLimited when RDAP said so; Unavailable when every server the
    // bootstrap names failed and port 43 should be asked instead.
    Task<std::optional<LookupResult>> lookUp(const LookupRequest& request);

private:
    Task<void> followRelated(
        const RdapReading& registry, const LookupRequest& request, LookupResult& result);

    Hops& m_hops;
    RdapBootstrap& m_bootstrap;
};
