#include "engine/address/PrivateAddress.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
// A prefix of an address's bytes: the first `bits` of `bytes`.
struct Range {
    std::array<unsigned char, 16> bytes;
    int bits;
};

constexpr Range Ipv4Ranges[] = {
    {{0}, 8},          // "this network", 0.0.0.0 among it
    {{10}, 8},         // private
    {{127}, 8},        // loopback
    {{169, 254}, 16},  // link-local
    {{172, 16}, 12},   // private
    {{192, 168}, 16},  // private
};
constexpr Range Ipv6Ranges[] = {
    {{}, 128},                                                // ::
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128},  // ::1
    {{0xfc}, 7},                                              // unique local
    {{0xfe, 0x80}, 10},                                       // link-local
};

bool within(QByteArrayView bytes, const Range& range)
{
    for (int bit = 0; bit < range.bits; ++bit) {
        const int byte = bit / 8;
        const unsigned mask = 0x80u >> (bit % 8);
        if ((static_cast<unsigned char>(bytes[byte]) & mask) != (range.bytes[static_cast<size_t>(byte)] & mask))
            return false;
    }
    return true;
}

// The IPv4 address an IPv6 one carries: ::ffff:a.b.c.d, or ::a.b.c.d (but
// not :: and ::1, which are IPv6's own).
std::optional<QByteArrayView> embeddedIpv4(QByteArrayView bytes)
{
    const QByteArrayView head = bytes.first(10);
    if (head != QByteArrayView("\0\0\0\0\0\0\0\0\0\0", 10))
        return std::nullopt;
    const QByteArrayView marker = bytes.sliced(10, 2);
    const QByteArrayView ipv4 = bytes.sliced(12);
    if (marker == QByteArrayView("\xff\xff", 2))
        return ipv4;
    if (marker == QByteArrayView("\0\0", 2) && ipv4.sliced(0, 3) != QByteArrayView("\0\0\0", 3))
        return ipv4;
    return std::nullopt;
}
}  // namespace

bool PrivateAddress::isPrivate(QByteArrayView bytes)
{
    if (bytes.size() == 4)
        return std::ranges::any_of(Ipv4Ranges, [&](const Range& range) { return within(bytes, range); });
    if (bytes.size() != 16)
        return false;
    if (const auto ipv4 = embeddedIpv4(bytes))
        return isPrivate(*ipv4);
    return std::ranges::any_of(Ipv6Ranges, [&](const Range& range) { return within(bytes, range); });
}

bool PrivateAddress::isPrivate(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        sockaddr_in ipv4{};
        std::memcpy(&ipv4, address, sizeof ipv4);
        return isPrivate(QByteArrayView(reinterpret_cast<const char*>(&ipv4.sin_addr), 4));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 ipv6{};
        std::memcpy(&ipv6, address, sizeof ipv6);
        return isPrivate(QByteArrayView(reinterpret_cast<const char*>(&ipv6.sin6_addr), 16));
    }
    return false;
}

std::optional<bool> PrivateAddress::ofHost(const QByteArray& host)
{
    if (host.startsWith('[') && host.endsWith(']')) {
        QByteArray text = host.sliced(1, host.size() - 2);
        // A zone (fe80::1%25eth0) is no part of the address.
        if (const qsizetype zone = text.indexOf('%'); zone >= 0)
            text.truncate(zone);
        in6_addr ipv6{};
        if (::inet_pton(AF_INET6, text.constData(), &ipv6) != 1)
            return std::nullopt;
        return isPrivate(QByteArrayView(reinterpret_cast<const char*>(&ipv6), 16));
    }
    if (in_addr ipv4{}; ::inet_pton(AF_INET, host.constData(), &ipv4) == 1)
        return isPrivate(QByteArrayView(reinterpret_cast<const char*>(&ipv4), 4));
    // curl, and the system's resolvers, take these for this machine without
    // asking anyone.
    if (host == "localhost" || host.endsWith(".localhost"))
        return true;
    return std::nullopt;
}

QByteArray PrivateAddress::textOf(const sockaddr* address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return QByteArray(text);
}
