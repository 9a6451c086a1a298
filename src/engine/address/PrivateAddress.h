#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

struct sockaddr;

// Addresses that lead back into this machine or its own network rather than
// out to the web: loopback (127/8, ::1), private (10/8, 172.16/12,
// 192.168/16, fc00::/7), link-local (169.254/16, fe80::/10) and unspecified
// (0/8, ::). An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d, and
// the deprecated ::a.b.c.d) is judged by that one, as the system connects to it.
namespace PrivateAddress {
// The address's bytes in network order: 4 for IPv4, 16 for IPv6; any other
// length is no address and not private.
bool isPrivate(QByteArrayView bytes);
// The address a socket is about to connect to (AF_INET or AF_INET6; any
// other family is not private).
bool isPrivate(const sockaddr* address);
// A host as HostKey spells it: an IPv4 address in dotted decimal, an IPv6
// one in brackets, or a name. Whether it is private: for a name, only the
// names that stand for this machine whatever resolves them ("localhost",
// any name under ".localhost"); nothing for any other name, which only its
// lookup can tell.
std::optional<bool> ofHost(const QByteArray& host);
// The numeric address in the text of its family ("127.0.0.1", "::1").
QByteArray textOf(const sockaddr* address);
}  // namespace PrivateAddress
