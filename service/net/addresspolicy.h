#pragma once

#include <QHostAddress>
#include <QString>

struct sockaddr_storage;

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;

    // The endpoint as the socket calls take it; returns its length.
    unsigned socketAddress(sockaddr_storage* into) const;
};

// Whether the service may connect to an address a third party named: never loopback (but for
// 127.0.0.0/8 in tests), private, link-local, documentation, multicast, broadcast or unspecified
// ones, nor IPv6 translations of IPv4 addresses, nor this machine's own addresses.
bool mayConnect(const QHostAddress& address, bool allowLoopback);

// The client an address stands for wherever clients are counted or limited: an IPv4 address
// (also in IPv6 clothing) by itself, an IPv6 address by its /64, the unit one subscriber gets.
QString clientOf(const QHostAddress& address);
