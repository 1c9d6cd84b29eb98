#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QPair>

#include "service/net/network.h"

// An answer of the service, as the HTTP layer sends it.
struct Reply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    int maxAgeSeconds = 0; // how long a cache may keep it; 0: not at all
    QList<QPair<QByteArray, QByteArray>> headers; // more than these
};

// A reply on its way to one client. A kept reply is fresh until freshUntil, and downstream caches
// are told so; otherwise its own maxAgeSeconds counts.
struct Sent
{
    std::shared_ptr<const Reply> reply;
    std::optional<Clock::time_point> freshUntil;
};

// Hands a request's answer back; callable once, from any thread.
using Respond = std::function<void(Sent)>;
