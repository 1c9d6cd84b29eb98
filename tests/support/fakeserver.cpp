#include "fakeserver.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include <QFile>

#include <curl/curl.h>
#include <microhttpd.h>

namespace {

using Delivery = std::pair<FakeServer*, FakeServer::Response>;

MHD_Result addHeader(void* lines, MHD_ValueKind, const char* name, const char* value)
{
    *static_cast<QByteArray*>(lines) += QByteArray(name).toLower() + ": " + value + "\n";
    return MHD_YES;
}

MHD_Result answer(void* server, MHD_Connection* connection, const char*, const char*, const char*,
    const char*, size_t* uploadSize, void** state)
{
    auto* request = static_cast<FakeServer::Request*>(*state);
    // Answered once the whole request is in, as an answer queued earlier closes the connection
    // and the service's kept connections could not be seen. Every client sends Host.
    if (request->headers.isEmpty()) {
        MHD_get_connection_values(connection, MHD_HEADER_KIND, addHeader, &request->headers);
        return MHD_YES;
    }
    if (*uploadSize != 0) { // request bodies are not looked at
        *uploadSize = 0;
        return MHD_YES;
    }
    auto* delivery = new Delivery {static_cast<FakeServer*>(server), {}};
    const FakeServer::Response& reply = delivery->second;
    if (!delivery->first->take(*request, delivery->second))
        return delete delivery, MHD_NO;
    const bool sized = reply.manner == Manner::Answer || reply.manner == Manner::Late;
    MHD_Response* response = MHD_create_response_from_callback(
        sized ? uint64_t(reply.body.size()) : MHD_SIZE_UNKNOWN, 4096,
        [](void* d, uint64_t at, char* buffer, size_t max) -> ssize_t {
            const qsizetype n = static_cast<Delivery*>(d)->first->produce(
                static_cast<Delivery*>(d)->second, qint64(at), buffer, qsizetype(max));
            return n > 0 ? n
                : n == 0 ? MHD_CONTENT_READER_END_OF_STREAM
                         : MHD_CONTENT_READER_END_WITH_ERROR;
        },
        delivery, [](void* d) { delete static_cast<Delivery*>(d); });
    if (!sized)
        MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
    MHD_add_response_header(response, "Content-Type", "text/html; charset=gbk");
    for (const auto& [name, value] : reply.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

QByteArray fixtureFile(const char* folder, const char* name)
{
    QFile file(QLatin1String(folder) + '/' + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no fixture %s", qPrintable(file.fileName()));
    return file.readAll();
}

QList<QStringList> tableIn(const char* folder, const char* name, const QString& noteTag)
{
    const QString note = QStringLiteral("# ") + noteTag + u':';
    QList<QStringList> rows;
    for (QString line : QString::fromUtf8(fixtureFile(folder, name)).split(u'\n')) {
        line.remove(u'\r');
        if (!noteTag.isEmpty() && line.startsWith(note) && !rows.isEmpty())
            rows.last().last() = line.mid(note.size()).trimmed();
        else if (!line.trimmed().isEmpty() && !line.startsWith(u'#'))
            rows << (noteTag.isEmpty() ? line.split(u'\t') : line.split(u'\t') << QString());
    }
    return rows;
}

HttpGot httpRequest(const QString& url, const char* method, const QList<QByteArray>& headers,
    long timeoutMs, const QByteArray& target)
{
    HttpGot got;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const QByteArray& header : headers)
        list = curl_slist_append(list, header.constData());
    const auto collect = +[](char* data, size_t size, size_t count, void* into) {
        static_cast<QByteArray*>(into)->append(data, qsizetype(size * count));
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_URL, url.toUtf8().constData());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    if (!target.isEmpty())
        curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, target.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &got.headers);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &got.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return got;
}

FakeServer::FakeServer(Protocol protocol, const char* address, quint16 port)
    : m_address(address), m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    socklen_t length = sizeof at;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&at), length) != 0
        || ::listen(m_listener, 64) != 0)
        qFatal("fake server cannot listen on %s:%u", address, unsigned(port));
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &length);
    m_port = ntohs(at.sin_port);
    if (protocol == Protocol::Http) { // the daemon takes the listener over
        fallback({404, "<html><body><h1>404 Not Found</h1></body></html>"});
        m_daemon = MHD_start_daemon(
            MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr,
            ::answer, this, MHD_OPTION_LISTEN_SOCKET, m_listener, MHD_OPTION_URI_LOG_CALLBACK,
            +[](void*, const char* uri, MHD_Connection*) -> void* {
                return new Request {uri, {}};
            },
            nullptr, MHD_OPTION_NOTIFY_COMPLETED,
            +[](void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
                delete static_cast<Request*>(*state);
            },
            nullptr, MHD_OPTION_END);
        if (!m_daemon)
            qFatal("fake server cannot serve HTTP on %s", address);
        return;
    }
    m_acceptor = std::thread([this] {
        while (!waitForStop(std::chrono::milliseconds(0)))
            if (const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                client >= 0)
                m_threads.emplace_back(&FakeServer::serve, this, client);
    });
}

FakeServer::~FakeServer()
{
    m_stop.set_value();
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        return;
    }
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    for (std::thread& thread : m_threads)
        thread.join();
    ::close(m_listener);
}

bool FakeServer::take(const Request& request, Response& response)
{
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        const QByteArray key = request.target.split('?').first();
        response = m_routes[m_routes.count(key) ? key : QByteArray()];
    }
    if (response.neverAnswer)
        response.manner = Manner::Hang;
    else if (!response.withLength && response.manner == Manner::Answer)
        response.manner = Manner::CloseDelimited;
    if (response.onRequest)
        response.onRequest();
    if (response.manner == Manner::Hang)
        waitForStop(std::chrono::hours(1));
    return !waitForStop(std::chrono::milliseconds(response.manner == Manner::Late ? 1000 : 0));
}

qsizetype FakeServer::produce(const Response& response, qint64 at, char* buffer, qsizetype max)
{
    const QByteArray& body = response.body;
    const bool trickle = response.manner == Manner::Trickle;
    if (trickle && (body.isEmpty() || waitForStop(std::chrono::milliseconds(100))))
        return -1;
    if (!trickle && at >= body.size() * (response.manner == Manner::Flood ? 4096 : 1))
        return 0;
    const qsizetype from = qsizetype(at % body.size());
    const qsizetype n = std::min(trickle ? 1 : max, body.size() - from);
    std::memcpy(buffer, body.constData() + from, size_t(n));
    return n;
}

// A query line within 5 s, then the answer, then close.
void FakeServer::serve(int client)
{
    const timeval most {5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &most, sizeof most);
    QByteArray query;
    char buffer[4096];
    for (ssize_t n = 0;
         !query.contains('\n') && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
        query.append(buffer, n);
    Response response;
    qsizetype n = 0;
    if (take({query.trimmed(), {}}, response))
        for (qint64 at = 0; (n = produce(response, at, buffer, sizeof buffer)) > 0
             && ::send(client, buffer, size_t(n), MSG_NOSIGNAL) == n;)
            at += n;
    ::close(client);
}

std::vector<QByteArray> FakeServer::targets() const
{
    std::vector<QByteArray> result;
    for (const Request& request : requests())
        result.push_back(request.target);
    return result;
}

SilentNameServer::SilentNameServer(const char* address)
    : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, address, &at.sin_addr);
    socklen_t length = sizeof at;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&at), length) != 0)
        qFatal("silent name server cannot bind %s", address);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&at), &length);
    m_server = QStringLiteral("%1:%2").arg(QLatin1String(address)).arg(ntohs(at.sin_port));
}

SilentNameServer::~SilentNameServer()
{
    ::close(m_fd);
}
