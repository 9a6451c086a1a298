#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <curl/curl.h>

#include <memory>

// An address as curl parses it.
class ParsedAddress {
public:
    explicit ParsedAddress(QByteArrayView address);
    // An address resolved against this one, as a browser follows a Location:
    // relative references allowed, spaces and bytes outside ASCII
    // percent-encoded in the path.
    ParsedAddress(const ParsedAddress& base, QByteArrayView reference);
    // CURLUE_OK when curl could parse it.
    CURLUcode result() const { return m_result; }
    // A part of it, empty when it has none.
    QByteArray part(CURLUPart which, unsigned flags = 0) const;
    bool setHost(const QByteArray& host);

private:
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> m_url;
    CURLUcode m_result;
};

// The address as curl is to be given it: a host name in another script in
// its ASCII form, the rest as written. Raises Failure for an address that is
// not http or https, that curl cannot parse, or that holds control
// characters or backslashes.
QByteArray usableAddress(const QString& address);
