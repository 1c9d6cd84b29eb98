#include "record.h"

void DomainRecord::fillFrom(const DomainRecord& other)
{
    if (registrar.isEmpty())
        registrar = other.registrar;
    if (registrant.isEmpty())
        registrant = other.registrant;
    if (email.isEmpty())
        email = other.email;
    if (!created.isValid())
        created = other.created;
    if (!expires.isValid())
        expires = other.expires;
    if (!changed.isValid())
        changed = other.changed;
    if (nameServers.isEmpty())
        nameServers = other.nameServers;
    if (status.isEmpty())
        status = other.status;
    if (registrarId.isEmpty())
        registrarId = other.registrarId;
}

const char* outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Registered:
        return "registered";
    case Outcome::NotRegistered:
        return "not-registered";
    case Outcome::Reserved:
        return "reserved";
    case Outcome::NotADomain:
        return "not-a-domain";
    case Outcome::RateLimited:
        return "rate-limited";
    case Outcome::Unavailable:
        return "unavailable";
    }
    return "?";
}
