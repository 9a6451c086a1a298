#include "engine/address/HostKey.h"

#include "engine/Failure.h"
#include "engine/address/UsableAddress.h"

#include <QString>

#include <algorithm>

#include <arpa/inet.h>

namespace {
int defaultPortOf(QByteArrayView scheme) { return scheme == "https" ? 443 : 80; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where the authority ends: at the path, the query or the fragment.
qsizetype authorityEndIn(QByteArrayView address, qsizetype from)
{
    qsizetype end = from;
    while (end < address.size() && address[end] != '/' && address[end] != '?' && address[end] != '#')
        ++end;
    return end;
}

// Most addresses of a list are "https://name.example/...": a host of ASCII
// letters, digits, dots and hyphens, with a port or none. These are read
// here without curl's full parse, which costs a couple of microseconds an
// address; anything else goes to curl. A host is taken here only when some
// label starts with a letter, since curl reads a host of numbers alone
// (127.1, 0x7f.1) as an IPv4 address.
std::optional<HostKey::Endpoint> plainEndpointOf(QByteArrayView address)
{
    HostKey::Endpoint endpoint;
    qsizetype schemeEnd = -1;
    if (address.size() >= 7 && QByteArrayView(address.first(7)).compare("http://", Qt::CaseInsensitive) == 0) {
        endpoint.scheme = "http";
        schemeEnd = 7;
    } else if (address.size() >= 8 && QByteArrayView(address.first(8)).compare("https://", Qt::CaseInsensitive) == 0) {
        endpoint.scheme = "https";
        schemeEnd = 8;
    } else {
        return std::nullopt;
    }
    const qsizetype authorityEnd = authorityEndIn(address, schemeEnd);
    const QByteArrayView authority = address.sliced(schemeEnd, authorityEnd - schemeEnd);
    const qsizetype colon = authority.indexOf(':');
    const QByteArrayView host = colon < 0 ? authority : authority.first(colon);
    if (host.isEmpty() || host.front() == '.' || host.back() == '.' || host.front() == '-')
        return std::nullopt;
    bool labelStartsWithLetter = false;
    bool atLabelStart = true;
    for (const char c : host) {
        if (!isAsciiLetter(c) && !isDigit(c) && c != '.' && c != '-')
            return std::nullopt;
        if (c == '.' && atLabelStart)
            return std::nullopt;  // an empty label
        labelStartsWithLetter |= atLabelStart && isAsciiLetter(c);
        atLabelStart = c == '.';
    }
    if (!labelStartsWithLetter)
        return std::nullopt;
    endpoint.host = host.toByteArray().toLower();
    endpoint.port = defaultPortOf(endpoint.scheme);
    if (colon >= 0) {
        const QByteArrayView port = authority.sliced(colon + 1);
        if (port.isEmpty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), isDigit))
            return std::nullopt;
        endpoint.port = port.toInt();
        if (endpoint.port < 1 || endpoint.port > 65535)
            return std::nullopt;
    }
    return endpoint;
}

// An IPv6 address in brackets in its canonical text form.
QByteArray canonicalIpv6(const QByteArray& bracketed)
{
    const QByteArray inner = bracketed.sliced(1, bracketed.size() - 2);
    in6_addr numeric{};
    char text[INET6_ADDRSTRLEN] = {};
    if (::inet_pton(AF_INET6, inner.constData(), &numeric) != 1 || !::inet_ntop(AF_INET6, &numeric, text, sizeof text))
        return bracketed.toLower();
    return '[' + QByteArray(text) + ']';
}
}  // namespace

QByteArray HostKey::Endpoint::origin() const
{
    return scheme + "://" + host + ':' + QByteArray::number(port);
}

std::optional<HostKey::Endpoint> HostKey::endpointOf(QByteArrayView address)
{
    if (auto plain = plainEndpointOf(address))
        return plain;
    QByteArray usable;
    try {
        usable = usableAddress(QString::fromUtf8(address));
    } catch (const Failure&) {
        return std::nullopt;
    }
    // Parsed again: curl reads an IPv4 address in any form it accepts into
    // dotted decimal only as a whole address, an ASCII form included.
    const ParsedAddress parsed(usable);
    Endpoint endpoint;
    endpoint.scheme = parsed.part(CURLUPART_SCHEME).toLower();
    endpoint.host = parsed.part(CURLUPART_HOST).toLower();
    endpoint.port = parsed.part(CURLUPART_PORT, CURLU_DEFAULT_PORT).toInt();
    if (endpoint.host.endsWith('.'))
        endpoint.host.chop(1);
    if (endpoint.host.startsWith('[') && endpoint.host.endsWith(']'))
        endpoint.host = canonicalIpv6(endpoint.host);
    if (endpoint.host.isEmpty() || endpoint.port <= 0)
        return std::nullopt;
    return endpoint;
}

QByteArray HostKey::hostOf(QByteArrayView address)
{
    const auto endpoint = endpointOf(address);
    return endpoint ? endpoint->host : QByteArray();
}

QByteArray HostKey::originOf(QByteArrayView address)
{
    const auto endpoint = endpointOf(address);
    return endpoint ? endpoint->origin() : address.toByteArray().toLower();
}

QByteArray HostKey::requestKey(QByteArrayView address)
{
    const auto endpoint = endpointOf(address);
    if (!endpoint)
        return address.toByteArray();
    // A user name and password go as they are written: they make another
    // request of the same path.
    const qsizetype authorityStart = address.indexOf("://") + 3;
    const qsizetype authorityEnd = authorityEndIn(address, authorityStart);
    const QByteArrayView authority = address.sliced(authorityStart, authorityEnd - authorityStart);
    QByteArray key = endpoint->scheme + "://" + authority.first(authority.lastIndexOf('@') + 1).toByteArray()
        + endpoint->host;
    if (endpoint->port != defaultPortOf(endpoint->scheme))
        key += ':' + QByteArray::number(endpoint->port);
    // The path and query as written.
    QByteArrayView rest = address.sliced(authorityEnd);
    if (const qsizetype fragment = rest.indexOf('#'); fragment >= 0)
        rest = rest.first(fragment);
    if (!rest.startsWith('/'))
        key += '/';
    key += rest;
    return key;
}
