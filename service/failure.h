#pragma once

#include <QString>

// Why a look-up, or one hop of it, failed. Each has one text, in the table of failure.cpp.
enum class Failure {
    None,
    // the service's own doing: its limits, its queues, its stopping
    OwnLimit,
    NoTimeLeft,
    Busy,
    Stopping,
    Internal,
    PageReadBack,
    // the upstream's
    HeldOff,
    TooManyRequests,
    NoAddress,
    RefusedAddress,
    Network,
    HttpStatus,
    NotDomainObject,
    NotUnderstood,
    IanaNotUnderstood,
    IanaKnowsNoTld,
    NoWhoisServer,
    NoRecord,
};

// The failure's text for the log.
const char* failureText(Failure failure);
// Whether the service itself, not an upstream, failed: such a page is not kept.
bool isOwnFailure(Failure failure);
// "where: text (detail)", for the log.
QString describeFailure(Failure failure, const QString& where, const QString& detail = {});
