#pragma once

#include <QByteArray>
#include <QString>

#include "service/reading/record.h"

// What an RDAP domain answer (RFC 9083) says, and where the registrar's own answer is.
struct RdapReading
{
    bool valid = false; // a domain object at all
    DomainRecord record;
    bool lacksRegistrant = false; // no registrant entity, as thin registries answer
    QString related; // the registrar's RDAP URL for the domain
};

RdapReading readRdapDomain(const QByteArray& json);
