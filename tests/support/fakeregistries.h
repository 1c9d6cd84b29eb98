#pragma once

#include <atomic>
#include <map>

#include <QStringList>
#include <QTemporaryDir>

#include "service/whoisservice.h"
#include "support/fakeserver.h"

// IANA's answer for a TLD whose whois server is server.
QByteArray ianaReferral(const char* tld, const char* server);

struct Answer
{
    long status = 0;
    QStringList shown; // the window's cop, truename, mail, bdate and edate
    QByteArray headers;
};

// The registries of the tests. Port 43: IANA on 127.0.0.2, every registry and registrar on
// 127.0.0.3, reached by their real names through a resolver of the test's own; a slow one on
// 127.0.0.4 (whois.slow.test), and 127.0.0.1, where a referral to loopback would lead. RDAP: the
// bootstrap registry and the registries of .com and .org on 127.0.0.5, a registrar on 127.0.0.6.
struct FakeRegistries
{
    FakeRegistries();
    // Port 43 alone, on a clock clockAhead seconds ahead.
    RegistrySettings settings();
    // The service on 127.0.0.1 and a free port; RDAP first when rdap, its bootstrap kept in cache.
    ServiceSettings service(bool rdap = false);
    // A service started on these registries, asked for typed.
    Answer lookUp(const QString& typed, bool rdap = false);

    FakeWhoisServer iana {"127.0.0.2"};
    FakeWhoisServer whois {"127.0.0.3"};
    FakeWhoisServer slow {"127.0.0.4"};
    FakeWhoisServer elsewhere {"127.0.0.1"};
    TestHttpServer rdap {"127.0.0.5"};
    TestHttpServer registrar {"127.0.0.6"};
    QTemporaryDir cache;
    std::map<QString, std::vector<Endpoint>> addresses; // where a host name leads instead
    QStringList broken; // host names whose look-up throws, as a fault inside the service would
    std::atomic<int> clockAhead {0};
};

// What the window shows for typed looked up over port 43, as tests/whois/formats.tsv has it.
QStringList shownFor(const QString& typed);

// The service on 127.0.0.1 and a free port, asking the registries given.
ServiceSettings onLoopback(const RegistrySettings& registries);

// The service's page for typed text, read back as the window reads it.
Answer ask(
    const WhoisService& service, const QString& typed, const QList<QByteArray>& headers = {});

inline const QString kSpace = QStringLiteral("\u3000");
inline const QString kUnavailable = QStringLiteral("注册局暂时没有应答，请稍后再试");
inline const QString kLimited = QStringLiteral("注册局限制了查询次数，请稍后再试");
inline const QString kFree = QStringLiteral("该域名尚未注册");
