#pragma once

#include <QString>
#include <QStringList>

#include "service/http/reply.h"
#include "service/reading/record.h"

// The look-up of domain as an RDAP domain object (RFC 9083), application/rdap+json: from the
// registry's RDAP answer, or translated from its whois answer. Not registered: 404; no domain: 400;
// limited: 429; no answer: 503; each an RDAP error object. Fresh as long as the page of the same
// look-up.
Reply rdapDomainReply(const QString& domain, const LookupResult& result);
// What /rdap/help answers: what this server serves, and how.
Reply rdapHelpReply();
// An RDAP error object for a query this server does not answer.
Reply rdapErrorReply(int status, const QString& title, const QString& description);

// Status codes as RDAP states them (RFC 8056's mapping of EPP's, "clientHold" -> "client hold");
// codes that map to none of RDAP's values are left out.
QStringList rdapStatus(const QStringList& codes);
