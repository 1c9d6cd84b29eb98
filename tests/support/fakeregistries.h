#pragma once

#include <QStringList>

#include "service/whoisservice.h"
#include "support/whoisserver.h"

// IANA's answer for a TLD whose whois server is server.
QByteArray ianaReferral(const char* tld, const char* server);

// The registries of the tests: IANA on 127.0.0.2, every registry and registrar on 127.0.0.3,
// reached by their real names through a resolver of the test's own; a slow one on 127.0.0.4
// (whois.slow.test), and 127.0.0.1, where a referral to loopback would lead.
struct FakeRegistries
{
    FakeRegistries();
    RegistrySettings settings();

    FakeWhoisServer iana {"127.0.0.2"};
    FakeWhoisServer whois {"127.0.0.3"};
    FakeWhoisServer slow {"127.0.0.4"};
    FakeWhoisServer elsewhere {"127.0.0.1"};
};

// The service on 127.0.0.1 and a free port, asking the registries given.
ServiceSettings onLoopback(const RegistrySettings& registries);

struct Answer
{
    long status = 0;
    QStringList shown; // the window's cop, truename, mail, bdate and edate
    QByteArray headers;
};

// The service's page for typed text, read back as the window reads it.
Answer ask(const WhoisService& service, const QString& typed);

inline const QString kSpace = QStringLiteral("\u3000");
