#include "whoisserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

QByteArray whoisFixture(const char* name)
{
    QFile file(QStringLiteral(WHOIS_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no fixture %s", name);
    return file.readAll();
}

FakeWhoisServer::FakeWhoisServer(const char* address, quint16 port)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in at {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    inet_pton(AF_INET, address, &at.sin_addr);
    socklen_t length = sizeof at;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&at), length) != 0
        || ::listen(m_listener, 64) != 0 || ::pipe(m_wake) != 0)
        qFatal("fake whois server cannot listen on %s:%u", address, unsigned(port));
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &length);
    m_port = ntohs(at.sin_port);
    m_acceptor = std::thread([this] {
        for (;;) {
            pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            ::poll(fds, 2, -1);
            if (m_stopping)
                return;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                m_threads.emplace_back(&FakeWhoisServer::serve, this, client);
        }
    });
}

FakeWhoisServer::~FakeWhoisServer()
{
    m_stopping = true;
    (void)!::write(m_wake[1], "x", 1);
    m_acceptor.join();
    for (std::thread& thread : m_threads)
        thread.join();
    for (int fd : {m_listener, m_wake[0], m_wake[1]})
        ::close(fd);
}

void FakeWhoisServer::answer(const QByteArray& query, const QByteArray& text)
{
    const std::lock_guard lock(m_mutex);
    m_answers[query] = text;
}

std::vector<QByteArray> FakeWhoisServer::queries() const
{
    const std::lock_guard lock(m_mutex);
    return m_queries;
}

void FakeWhoisServer::serve(int client)
{
    QByteArray query;
    char buffer[512];
    while (!query.contains('\n')) {
        pollfd fds[2] = {{client, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(fds, 2, 5000);
        const ssize_t n = m_stopping ? 0 : ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        query.append(buffer, n);
    }
    query = query.trimmed();
    QByteArray text;
    {
        const std::lock_guard lock(m_mutex);
        m_queries.push_back(query);
        const auto found = m_answers.find(query);
        text = found != m_answers.end() ? found->second : m_answers[{}];
    }
    const Manner manner = m_manner;
    for (qsizetype at = 0; manner == Manner::Trickle && !text.isEmpty() && !m_stopping; ++at) {
        if (::send(client, text.constData() + at % text.size(), 1, MSG_NOSIGNAL) != 1)
            break;
        pollfd wake {m_wake[0], POLLIN, 0};
        ::poll(&wake, 1, 100);
    }
    if (manner == Manner::Hang || manner == Manner::Late) {
        pollfd wake {m_wake[0], POLLIN, 0};
        ::poll(&wake, 1, manner == Manner::Late ? 1000 : -1);
    }
    for (int round = 0; manner != Manner::Hang && manner != Manner::Trickle && !m_stopping;
         ++round) {
        for (qsizetype sent = 0, n = 0; sent < text.size(); sent += n) {
            n = ::send(client, text.constData() + sent, size_t(text.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
        }
        if (manner != Manner::Flood || round > 4096)
            break;
    }
    ::close(client);
}
