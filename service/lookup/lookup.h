#pragma once

#include <chrono>

#include <QString>

#include "service/net/network.h"

// One look-up as its hops see it: what is asked, for whom, and by when.
struct LookupRequest
{
    QString domain; // a registrable domain, in its ASCII form
    QString client; // whom it is for: upstream allowances are shared out by it
    Clock::time_point deadline; // on the service's clock
};
