#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <QByteArray>

// A whois server (RFC 3912) on a loopback address: reads one query line, answers with the text
// given for it, and closes. Queries it has no answer for get its fallback.
class FakeWhoisServer
{
public:
    enum class Manner { Answer, Hang, Flood, Trickle, Late };

    // port 0: a free one.
    explicit FakeWhoisServer(const char* address, quint16 port = 0);
    ~FakeWhoisServer();

    void answer(const QByteArray& query, const QByteArray& text);
    void fallback(const QByteArray& text) { answer({}, text); }
    // Hang: accepts and reads, then says nothing. Flood: answers without end. Trickle: a byte of
    // the answer every 100 ms, over and over. Late: the answer after a second.
    void behave(Manner manner) { m_manner = manner; }

    quint16 port() const { return m_port; }
    std::vector<QByteArray> queries() const;

private:
    void serve(int client);

    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::atomic<Manner> m_manner {Manner::Answer};
    std::atomic<bool> m_stopping {false};
    mutable std::mutex m_mutex;
    std::map<QByteArray, QByteArray> m_answers;
    std::vector<QByteArray> m_queries;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};

// A fixture file of tests/whois.
QByteArray whoisFixture(const char* name);
