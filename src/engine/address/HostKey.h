#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// Where an address connects to, in the one spelling that every rule keyed by
// host uses: the turns and rests of each host, its kept connections, the
// shard it falls in and the addresses already asked. A host goes by the name
// the transfer connects to: its ASCII (IDNA) form in lower case, without a
// trailing dot; an IPv4 address in dotted decimal whatever form it was
// written in (127.1, 0x7f.0.0.1, 2130706433); an IPv6 address in brackets in
// its canonical text form ([::ffff:127.0.0.1], not [::FFFF:7f00:1]). A port
// written out that is the scheme's default is no other port.
namespace HostKey {
struct Endpoint {
    QByteArray scheme;  // "http" or "https"
    QByteArray host;
    int port = 0;  // the scheme's default when none is written
    // The host as the request names it: with a trailing dot, or an IPv6
    // address's zone (%25eth0), which may reach another server, or none.
    QByteArray requestHost;
    QByteArray userInfo;  // "user:password@" as written, or empty
    QByteArray target;    // the path and query, without the fragment
    // "http://host:80": what one kept connection serves.
    QByteArray origin() const;
};

// Nothing for an address the transfer would not ask (not http or https, not
// one curl can read).
std::optional<Endpoint> endpointOf(QByteArrayView address);
// The same by curl's full reading alone, which endpointOf() spares most
// addresses: the two agree on every address.
std::optional<Endpoint> parsedEndpointOf(QByteArrayView address);
// The endpoint's host, or empty.
QByteArray hostOf(QByteArrayView address);
// The endpoint's origin; for an address that has none, its text in lower
// case, so that such addresses still group among themselves.
QByteArray originOf(QByteArrayView address);
// The request an address makes, however its host is spelled: the endpoint
// (with the request's host), its port only when not the default, then the path and query as written,
// without the fragment (which is never sent). An address that has no
// endpoint is its own key.
QByteArray requestKey(QByteArrayView address);
}
