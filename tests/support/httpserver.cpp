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
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 16);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    if (::pipe(m_wake) != 0)
        qFatal("pipe");
    m_acceptor = std::thread([this] { serve(); });
}

TestHttpServer::~TestHttpServer()
{
    m_stopping = true;
    (void)!::write(m_wake[1], "x", 1);
    m_acceptor.join();
    for (std::thread& worker : m_workers)
        worker.join();
    ::close(m_listener);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void TestHttpServer::route(const QByteArray& path, Response response)
{
    const std::lock_guard lock(m_mutex);
    m_paths[path] = std::move(response);
}

void TestHttpServer::routeTarget(const QByteArray& target, Response response)
{
    const std::lock_guard lock(m_mutex);
    m_targets[target] = std::move(response);
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

TestHttpServer::Response TestHttpServer::responseFor(const QByteArray& target) const
{
    const std::lock_guard lock(m_mutex);
    if (const auto exact = m_targets.find(target); exact != m_targets.end())
        return exact->second;
    const QByteArray path = target.contains('?') ? target.left(target.indexOf('?')) : target;
    if (const auto byPath = m_paths.find(path); byPath != m_paths.end())
        return byPath->second;
    return Response {404, "<html><body><h1>404 Not Found</h1></body></html>"};
}

void TestHttpServer::serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (m_stopping)
            return;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client >= 0)
            m_workers.emplace_back([this, client] { answer(client); });
    }
}

void TestHttpServer::answer(int client)
{
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 65536) {
        pollfd fds[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, -1);
        if (m_stopping)
            break;
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0)
            break;
        head.append(buffer, n);
    }
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(head);
    }
    const Response response = responseFor(head.split(' ').value(1));
    if (response.onRequest)
        response.onRequest();
    if (response.neverAnswer) {
        pollfd wake {m_wake[0], POLLIN, 0};
        ::poll(&wake, 1, -1);
        ::close(client);
        return;
    }
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status)
        + (response.status == 200 ? " OK" : " Not Found")
        + "\r\nContent-Type: text/html; charset=gbk\r\nConnection: close\r\n";
    if (response.withLength)
        reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    reply += "\r\n";
    reply += response.body;
    for (qsizetype sent = 0; sent < reply.size() && !m_stopping;) {
        const ssize_t n
            = ::send(client, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    ::shutdown(client, SHUT_WR);
    ::close(client);
}
