#include "httpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QList>
#include <QStringEncoder>

QByteArray gbk(const QString& text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

TestHttpServer::TestHttpServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0
        || ::listen(m_listener, 16) != 0 || ::pipe(m_wake) != 0)
        qFatal("test server cannot listen");
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (m_stopping)
                return;
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            const std::lock_guard lock(m_mutex);
            ++m_answering;
            std::thread([this, client] {
                answer(client);
                const std::lock_guard lock(m_mutex);
                --m_answering;
                m_allAnswered.notify_all();
            }).detach();
        }
    });
}

TestHttpServer::~TestHttpServer()
{
    m_stopping = true;
    (void)!::write(m_wake[1], "x", 1);
    m_acceptor.join();
    std::unique_lock lock(m_mutex);
    m_allAnswered.wait(lock, [this] { return m_answering == 0; });
    for (int fd : {m_listener, m_wake[0], m_wake[1]})
        ::close(fd);
}

void TestHttpServer::route(const QByteArray& path, Response response)
{
    const std::lock_guard lock(m_mutex);
    m_routes[path] = std::move(response);
}

std::vector<QByteArray> TestHttpServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<QByteArray> TestHttpServer::targets() const
{
    std::vector<QByteArray> result;
    for (const QByteArray& request : requests())
        result.push_back(request.split(' ').value(1));
    return result;
}

void TestHttpServer::answer(int client)
{
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && !m_stopping) {
        pollfd fds[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        const ssize_t n = m_stopping ? 0 : ::read(client, buffer, sizeof buffer);
        if (n <= 0)
            break;
        head.append(buffer, n);
    }
    Response response {404, "<html><body><h1>404 Not Found</h1></body></html>"};
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(head);
        const QByteArray target = head.split(' ').value(1);
        const qsizetype query = target.indexOf('?');
        const auto found = m_routes.find(query < 0 ? target : target.left(query));
        if (found != m_routes.end())
            response = found->second;
    }
    if (response.onRequest)
        response.onRequest();
    if (response.neverAnswer) {
        pollfd wake {m_wake[0], POLLIN, 0};
        ::poll(&wake, 1, -1);
    } else {
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status)
            + " Whatever\r\nContent-Type: text/html; charset=gbk\r\nConnection: close\r\n";
        if (response.withLength)
            reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        reply += "\r\n" + response.body;
        for (qsizetype sent = 0, n = 0; sent < reply.size() && !m_stopping; sent += n) {
            n = ::send(client, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
        }
    }
    ::close(client);
}
