#pragma once

#include <chrono>
#include <stdexcept>

#include <QByteArray>
#include <QString>

// How long a fetch may wait and how much it may read: a whois server that hangs or floods must not
// freeze the window for ever or exhaust memory.
struct FetchLimits
{
    std::chrono::milliseconds connectTimeout {15000};
    std::chrono::milliseconds answerTimeout {30000};
    qint64 maxBodyBytes = 16 * 1024 * 1024;
};

// A failed fetch; what() is the reason, worded for the user.
class FetchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The request address as bytes for the request line: kept as typed, except that characters which
// cannot stand in an HTTP request target (controls, space, '"', '#', '<', '>', '\', '^', '`',
// '{', '|', '}', DEL and everything beyond ASCII) are percent-encoded, the latter as UTF-8 bytes.
// So no typed text can add a header, a second request or a fragment.
QByteArray requestTarget(const QString& url);

// A one-shot synchronous HTTP request on libcurl with the calls the whois fetch makes of it: Open,
// send, responseBody. Each object owns its own easy handle, released with the object.
class XmlHttpRequest
{
public:
    explicit XmlHttpRequest(FetchLimits limits = {});
    ~XmlHttpRequest();
    XmlHttpRequest(const XmlHttpRequest&) = delete;
    XmlHttpRequest& operator=(const XmlHttpRequest&) = delete;

    // Only synchronous GET is offered.
    void Open(const QString& method, const QString& url, bool async);
    // Returns when the whole answer is in. Throws FetchError on a transport failure, a time-out or
    // an over-long body; an HTTP error status is an answer like any other.
    void send();
    QByteArray responseBody() const { return m_body; }

private:
    static size_t collect(char* data, size_t size, size_t count, void* self);

    FetchLimits m_limits;
    void* m_curl = nullptr;
    QByteArray m_target;
    QByteArray m_body;
    bool m_overLimit = false;
};
