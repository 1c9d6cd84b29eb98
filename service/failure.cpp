#include "failure.h"

#include <array>

namespace {

struct FailureRow
{
    Failure failure;
    const char* text;
    bool own;
};

constexpr std::array kFailures = {
    FailureRow {Failure::None, "", false},
    FailureRow {Failure::OwnLimit, "our own limit", true},
    FailureRow {Failure::NoTimeLeft, "no time left for a query", true},
    FailureRow {Failure::Busy, "every worker busy and the queue full", true},
    FailureRow {Failure::Stopping, "the service stops", true},
    FailureRow {Failure::Internal, "internal error", true},
    FailureRow {Failure::PageReadBack, "page would not read back", true},
    FailureRow {Failure::HeldOff, "holds us off", false},
    FailureRow {Failure::TooManyRequests, "too many requests", false},
    FailureRow {Failure::NoAddress, "no address", false},
    FailureRow {Failure::RefusedAddress, "refused address", false},
    FailureRow {Failure::Network, "no answer", false},
    FailureRow {Failure::HttpStatus, "HTTP status", false},
    FailureRow {Failure::NotDomainObject, "not a domain object", false},
    FailureRow {Failure::NotUnderstood, "answer not understood", false},
    FailureRow {Failure::IanaNotUnderstood, "IANA's answer not understood", false},
    FailureRow {Failure::IanaKnowsNoTld, "IANA knows no such TLD", false},
    FailureRow {Failure::NoWhoisServer, "no whois server", false},
    FailureRow {Failure::NoRecord, "no record", false},
};

constexpr bool inEnumOrder()
{
    for (size_t i = 0; i < kFailures.size(); ++i)
        if (kFailures[i].failure != Failure(i))
            return false;
    return true;
}
static_assert(inEnumOrder(), "one row per failure, in the enum's order");

const FailureRow& rowOf(Failure failure)
{
    const auto index = static_cast<size_t>(failure);
    return kFailures[index < kFailures.size() ? index : 0];
}

} // namespace

const char* failureText(Failure failure)
{
    return rowOf(failure).text;
}

bool isOwnFailure(Failure failure)
{
    return rowOf(failure).own;
}

QString describeFailure(Failure failure, const QString& where, const QString& detail)
{
    QString text = QLatin1String(failureText(failure));
    if (!where.isEmpty())
        text = where + QStringLiteral(": ") + text;
    if (!detail.isEmpty())
        text += QStringLiteral(" (") + detail + u')';
    return text;
}
