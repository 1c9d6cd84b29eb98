#include "addresspolicy.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include <QNetworkInterface>

unsigned Endpoint::socketAddress(sockaddr_storage* into) const
{
    *into = {};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(into);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &bytes, sizeof bytes);
        return sizeof *v6;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(into);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof *v4;
}

bool mayConnect(const QHostAddress& given, bool allowLoopback)
{
    // Networks no registry lives on: unspecified, private, shared, loopback, link-local,
    // documentation (the TEST-NETs), benchmarking, multicast, reserved and broadcast; and the
    // IPv6 ways to another IPv4 network (NAT64, 6to4, Teredo), which could lead anywhere.
    static const QList<QPair<QHostAddress, int>> refused = [] {
        QList<QPair<QHostAddress, int>> nets;
        for (const char* net : {"0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "169.254.0.0/16",
                 "172.16.0.0/12", "192.0.0.0/24", "192.0.2.0/24", "192.168.0.0/16", "198.18.0.0/15",
                 "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/3", "::/128", "64:ff9b::/96",
                 "64:ff9b:1::/48", "100::/64", "2001::/32", "2001:db8::/32", "2002::/16",
                 "::ffff:0:0:0/96", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"})
            nets << QHostAddress::parseSubnet(QLatin1String(net));
        return nets;
    }();
    // An IPv4 address in IPv6 clothing (mapped ::ffff:a.b.c.d, compatible ::a.b.c.d) is judged
    // as the IPv4 address it carries.
    QHostAddress address = given;
    address.setScopeId({});
    bool mapped = false;
    const quint32 v4 = given.toIPv4Address(&mapped);
    const Q_IPV6ADDR v6 = given.toIPv6Address();
    const bool compatible = given.protocol() == QAbstractSocket::IPv6Protocol
        && std::all_of(v6.c, v6.c + 12, [](quint8 b) { return b == 0; })
        && (v6[12] | v6[13] | v6[14] | (v6[15] & 0xfe)) != 0; // not :: or ::1
    if (mapped)
        address = QHostAddress(v4);
    else if (compatible)
        address = QHostAddress(
            quint32(v6[12]) << 24 | quint32(v6[13]) << 16 | quint32(v6[14]) << 8 | v6[15]);
    if (address.isNull())
        return false;
    if (address.isLoopback())
        return allowLoopback && given.protocol() == QAbstractSocket::IPv4Protocol;
    for (const auto& [net, bits] : refused) {
        if (address.isInSubnet(net, bits))
            return false;
    }
    // This machine's own public addresses: a referral to one would reach its local services.
    for (const QHostAddress& own : QNetworkInterface::allAddresses()) {
        if (own.isEqual(address, QHostAddress::TolerantConversion))
            return false;
    }
    return true;
}

QString clientOf(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4).toString();
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address.toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}
