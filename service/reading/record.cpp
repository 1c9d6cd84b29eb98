#include "record.h"

namespace {

template <typename T> void fill(T& mine, const T& theirs)
{
    if (mine.isEmpty())
        mine = theirs;
}

void fill(RecordDate& mine, const RecordDate& theirs)
{
    if (!mine.isValid())
        mine = theirs;
}

} // namespace

void DomainRecord::fillFrom(const DomainRecord& other)
{
    fill(registrar, other.registrar);
    fill(registrant, other.registrant);
    fill(email, other.email);
    fill(created, other.created);
    fill(expires, other.expires);
    fill(changed, other.changed);
    fill(nameServers, other.nameServers);
    fill(status, other.status);
    fill(registrarId, other.registrarId);
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
