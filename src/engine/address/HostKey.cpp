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
    // What curl or the transfer refuses anywhere in an address: control
    // characters, blanks, a backslash.
    for (const char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || byte == '\\')
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
    QByteArrayView target = address.sliced(authorityEnd);
    if (const qsizetype fragment = target.indexOf('#'); fragment >= 0)
        target = target.first(fragment);
    endpoint.target = target.startsWith('/') ? target.toByteArray() : '/' + target.toByteArray();
    endpoint.host = host.toByteArray().toLower();
    endpoint.requestHost = endpoint.host;
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

QByteArray HostKey::Endpoint::origin() const { return scheme + "://" + host + ':' + QByteArray::number(port); }

std::optional<HostKey::Endpoint> HostKey::endpointOf(QByteArrayView address)
{
    if (auto plain = plainEndpointOf(address))
        return plain;
    return parsedEndpointOf(address);
}

std::optional<HostKey::Endpoint> HostKey::parsedEndpointOf(QByteArrayView address)
{
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
    const bool trailingDot = endpoint.host.endsWith('.');
    if (trailingDot)
        endpoint.host.chop(1);
    // curl reads an IPv4 address written in any form before it decodes a
    // host written in %XX, the system's resolver after.
    if (in_addr numeric{}; ::inet_aton(endpoint.host.constData(), &numeric) == 1)
        endpoint.host = ::inet_ntoa(numeric);
    endpoint.requestHost = trailingDot ? endpoint.host + '.' : endpoint.host;
    if (endpoint.host.startsWith('[') && endpoint.host.endsWith(']')) {
        endpoint.host = canonicalIpv6(endpoint.host);
        endpoint.requestHost = endpoint.host;
        if (const QByteArray zone = parsed.part(CURLUPART_ZONEID); !zone.isEmpty())
            endpoint.requestHost.insert(endpoint.requestHost.size() - 1, "%25" + zone);
    }
    if (endpoint.host.isEmpty() || endpoint.port <= 0)
        return std::nullopt;
    if (const QByteArray user = parsed.part(CURLUPART_USER); !user.isEmpty() || !parsed.part(CURLUPART_PASSWORD).isEmpty()) {
        endpoint.userInfo = user;
        if (const QByteArray password = parsed.part(CURLUPART_PASSWORD); !password.isEmpty())
            endpoint.userInfo += ':' + password;
        endpoint.userInfo += '@';
    }
    endpoint.target = parsed.part(CURLUPART_PATH);
    if (const QByteArray query = parsed.part(CURLUPART_QUERY); !query.isEmpty())
        endpoint.target += '?' + query;
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
    QByteArray key = endpoint->scheme + "://" + endpoint->userInfo + endpoint->requestHost;
    if (endpoint->port != defaultPortOf(endpoint->scheme))
        key += ':' + QByteArray::number(endpoint->port);
    return key + endpoint->target;
}
