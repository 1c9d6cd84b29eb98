#pragma once

#include <chrono>
#include <stdexcept>

#include <QByteArray>
#include <QString>

class QNetworkAccessManager;

// How long a fetch may wait and how much it may read: a whois server that hangs or floods must not
// keep the window waiting for ever or exhaust memory.
struct FetchLimits
{
    std::chrono::milliseconds connectTimeout {15000};
    std::chrono::milliseconds answerTimeout {30000}; // the whole exchange, connecting included
    qint64 maxBodyBytes = 16 * 1024 * 1024;
};

// A failed fetch; what() is the reason, worded for the user.
class FetchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// GETs url and returns the answer's body, whatever its HTTP status. The address is sent as typed,
// but for what cannot stand in a request target (controls, space, '"', '#', '<', '>', '\', '^',
// '`', '{', '|', '}', DEL and everything beyond ASCII), which is percent-encoded, the latter as
// UTF-8: no typed text can add a header, a second request or a fragment. (A percent-encoded letter,
// digit or "-._~" goes as the character itself, which means the same.) Returns only once the
// answer is in: meanwhile the window goes on painting, while user input waits until the return.
// Throws FetchError on a transport failure, a time-out or an over-long body.
QByteArray fetchBody(QNetworkAccessManager& network, const QString& url, const FetchLimits& limits);
