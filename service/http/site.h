#pragma once

#include <QString>
#include <QStringList>

#include "service/http/reply.h"

// What the maker's site tells about the service right now.
struct ServiceStatus
{
    qint64 upSeconds = 0;
    qint64 lookUps = 0; // answered from the registries
    qint64 fromCache = 0;
    qint64 failures = 0; // rate-limited or unavailable
    qint64 cached = 0; // domains kept
    QStringList formats; // the registry formats read
};

// The banner for the window's 505 x 41 strip: one line in Qt's HTML subset, no script.
Reply bannerPage(const ServiceStatus& status);
// The home page: what the program and the service are, how to use them, the status.
Reply homePage(const ServiceStatus& status);
// A screenshot of the window, for the home page and the AppStream metainfo.
Reply screenshot();
Reply notFoundPage();
Reply methodNotAllowedPage();
