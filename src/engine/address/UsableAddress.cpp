#include "engine/address/UsableAddress.h"

#include "engine/Characters.h"
#include "engine/Failure.h"

#include <QUrl>

#include <algorithm>

ParsedAddress::ParsedAddress(QByteArrayView address) : m_url(curl_url(), &curl_url_cleanup)
{
    m_result = curl_url_set(m_url.get(), CURLUPART_URL, address.toByteArray().constData(), 0);
}

ParsedAddress::ParsedAddress(const ParsedAddress& base, QByteArrayView reference)
    : m_url(base.m_result == CURLUE_OK ? curl_url_dup(base.m_url.get()) : curl_url(), &curl_url_cleanup)
{
    // The flags curl itself follows a Location with.
    m_result = base.m_result != CURLUE_OK ? base.m_result
                                          : curl_url_set(m_url.get(), CURLUPART_URL, reference.toByteArray().constData(),
                                                         CURLU_URLENCODE | CURLU_ALLOW_SPACE);
}

QByteArray ParsedAddress::part(CURLUPart which, unsigned flags) const
{
    char* text = nullptr;
    if (m_result != CURLUE_OK || curl_url_get(m_url.get(), which, &text, flags) != CURLUE_OK)
        return {};
    const QByteArray copy(text);
    curl_free(text);
    return copy;
}

bool ParsedAddress::setHost(const QByteArray& host)
{
    return curl_url_set(m_url.get(), CURLUPART_HOST, host.constData(), 0) == CURLUE_OK;
}

QByteArray usableAddress(const QString& address)
{
    if (std::any_of(address.begin(), address.end(), [](QChar c) { return isControlCharacter(c.unicode()); }))
        throw Failure(QStringLiteral("The address contains control characters"));
    // A browser reads a backslash as a slash, curl as an ordinary character:
    // in "http://a:1\\@b:2/" the one goes to a, port 1, the other to b, port 2.
    // No address means both, and the browser layer refuses it as well.
    if (address.contains(u'\\'))
        throw Failure(QStringLiteral("The address contains a backslash"));
    const QByteArray bytes = address.toUtf8();
    ParsedAddress parsed(bytes);
    if (parsed.result() != CURLUE_OK)
        throw Failure(QStringLiteral("The address cannot be used: ") + QString::fromUtf8(curl_url_strerror(parsed.result())));
    const QByteArray scheme = parsed.part(CURLUPART_SCHEME).toLower();
    if (scheme != "http" && scheme != "https")
        throw Failure(QStringLiteral("Only http and https addresses can be requested"));

    // A host name in another script goes to curl in its ASCII form: curl's
    // own conversion reads the name in the locale's encoding, and so fails
    // for every such name under a C locale.
    const QByteArray host = parsed.part(CURLUPART_HOST);
    if (std::all_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
    const QByteArray asciiHost = QUrl::toAce(QString::fromUtf8(host));
    if (asciiHost.isEmpty() || !parsed.setHost(asciiHost))
        throw Failure(QStringLiteral("The host name cannot be used"));
    return parsed.part(CURLUPART_URL);
}
