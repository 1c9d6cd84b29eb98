#include "httpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include <QStringEncoder>

#include <curl/curl.h>
#include <microhttpd.h>

QByteArray gbk(const QString& text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

HttpGot httpRequest(
    const QString& url, const char* method, const QList<QByteArray>& headers, long timeoutMs)
{
    HttpGot got;
    CURL* curl = curl_easy_init();
    const QByteArray address = url.toUtf8();
    curl_slist* list = nullptr;
    for (const QByteArray& header : headers)
        list = curl_slist_append(list, header.constData());
    const auto collect = +[](char* data, size_t size, size_t count, void* into) {
        static_cast<QByteArray*>(into)->append(data, qsizetype(size * count));
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    curl_easy_setopt(curl, CURLOPT_NOBODY, long(qstrcmp(method, "HEAD") == 0));
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

namespace {

void* startRequest(void*, const char* uri, MHD_Connection*)
{
    return new TestHttpServer::Request {uri, {}};
}

void endRequest(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode)
{
    delete static_cast<TestHttpServer::Request*>(*state);
}

MHD_Result addHeader(void* lines, MHD_ValueKind, const char* name, const char* value)
{
    *static_cast<QByteArray*>(lines) += QByteArray(name).toLower() + ": " + value + "\n";
    return MHD_YES;
}

ssize_t readBody(void* body, uint64_t at, char* buffer, size_t max)
{
    const auto* bytes = static_cast<QByteArray*>(body);
    if (at >= uint64_t(bytes->size()))
        return MHD_CONTENT_READER_END_OF_STREAM;
    const size_t n = std::min(max, size_t(bytes->size() - qsizetype(at)));
    std::memcpy(buffer, bytes->constData() + at, n);
    return ssize_t(n);
}

MHD_Result answer(void* server, MHD_Connection* connection, const char*, const char*, const char*,
    const char*, size_t* uploadSize, void** state)
{
    auto* request = static_cast<TestHttpServer::Request*>(*state);
    if (*uploadSize != 0) { // request bodies are not looked at
        *uploadSize = 0;
        return MHD_YES;
    }
    MHD_get_connection_values(connection, MHD_HEADER_KIND, addHeader, &request->headers);
    auto* self = static_cast<TestHttpServer*>(server);
    const TestHttpServer::Response reply = self->take(*request);
    if (reply.onRequest)
        reply.onRequest();
    if (reply.neverAnswer) {
        self->waitUntilStopped();
        return MHD_NO;
    }
    MHD_Response* response = nullptr;
    if (reply.withLength) {
        response = MHD_create_response_from_buffer(size_t(reply.body.size()),
            const_cast<char*>(reply.body.constData()), MHD_RESPMEM_MUST_COPY);
    } else {
        response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, readBody,
            new QByteArray(reply.body), [](void* body) { delete static_cast<QByteArray*>(body); });
        MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
    }
    MHD_add_response_header(response, "Content-Type", "text/html; charset=gbk");
    for (const auto& [name, value] : reply.headers)
        MHD_add_response_header(response, name.constData(), value.constData());
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

TestHttpServer::TestHttpServer(const char* address) : m_address(address)
{
    sockaddr_in at {};
    at.sin_family = AF_INET;
    inet_pton(AF_INET, address, &at.sin_addr);
    m_daemon = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0,
        nullptr, nullptr, answer, this, MHD_OPTION_SOCK_ADDR, &at, MHD_OPTION_URI_LOG_CALLBACK,
        startRequest, nullptr, MHD_OPTION_NOTIFY_COMPLETED, endRequest, nullptr, MHD_OPTION_END);
    if (!m_daemon)
        qFatal("test server cannot listen on %s", address);
    m_port = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
}

TestHttpServer::~TestHttpServer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    MHD_stop_daemon(m_daemon);
}

QString TestHttpServer::base() const
{
    return QStringLiteral("http://%1:%2").arg(QString::fromLatin1(m_address)).arg(m_port);
}

void TestHttpServer::route(const QByteArray& path, Response response)
{
    route(path, [response](const Request&) { return response; });
}

void TestHttpServer::route(const QByteArray& path, Handler handler)
{
    const std::lock_guard lock(m_mutex);
    m_routes[path] = std::move(handler);
}

TestHttpServer::Response TestHttpServer::take(const Request& request)
{
    Handler handler;
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        const qsizetype query = request.target.indexOf('?');
        const auto found = m_routes.find(query < 0 ? request.target : request.target.left(query));
        if (found != m_routes.end())
            handler = found->second;
    }
    return handler ? handler(request)
                   : Response {404, "<html><body><h1>404 Not Found</h1></body></html>"};
}

void TestHttpServer::waitUntilStopped()
{
    std::unique_lock lock(m_mutex);
    m_stopped.wait(lock, [this] { return m_stopping; });
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<QByteArray> TestHttpServer::targets() const
{
    std::vector<QByteArray> result;
    for (const Request& request : requests())
        result.push_back(request.target);
    return result;
}
