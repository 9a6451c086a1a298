#include "engine/transfer/Fault.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>

NoResponse NoResponse::explain(int curlResult, int osError, QByteArrayView message, bool requestSent)
{
    // Resources of this machine that run out for a while: another request
    // ending gives them back.
    const bool localShortage = osError == EMFILE || osError == ENFILE || osError == ENOMEM || osError == ENOBUFS
                            || osError == EADDRNOTAVAIL;
    // curl gives up on a header block past its limits with the same codes
    // as for a reset or for memory it could not have; only its words differ
    // (a line too long fills its buffer: "out of memory", after the request).
    if ((curlResult == CURLE_RECV_ERROR && message.startsWith("Too large response header"))
        || (curlResult == CURLE_OUT_OF_MEMORY && requestSent))
        return {QStringLiteral("header too long"), Fault::BadAnswer};
    const auto here = [&](const char* what) {
        return NoResponse{QString::fromLatin1(what) + QString::fromLocal8Bit(std::strerror(osError)), Fault::ThisMachine};
    };
    switch (static_cast<CURLcode>(curlResult)) {
    case CURLE_OUT_OF_MEMORY:
        return {QStringLiteral("out of memory"), Fault::ThisMachine};
    case CURLE_COULDNT_RESOLVE_HOST:
        // The lookup's thread, or its socket pair, could not be had.
        if (message.startsWith("getaddrinfo() thread failed to start"))
            return {QStringLiteral("no thread for the name lookup"), Fault::ThisMachine};
        if (localShortage)
            return here("no name lookup could be made here: ");
        return {QStringLiteral("no such host"), Fault::Lasting};
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {QStringLiteral("no such proxy host"), Fault::Lasting};
    case CURLE_COULDNT_CONNECT:
        if (localShortage)
            return here("no connection could be made here: ");
        return {QStringLiteral("refused"), Fault::Passing};
    case CURLE_OPERATION_TIMEDOUT:
        return {QStringLiteral("time-out"), Fault::Passing};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {QStringLiteral("certificate not trusted"), Fault::Lasting};
    case CURLE_SSL_CONNECT_ERROR:
        return {QStringLiteral("secure connection failed"), Fault::Passing};
    case CURLE_GOT_NOTHING:
        return {QStringLiteral("empty reply"), Fault::Passing};
    case CURLE_RECV_ERROR:
        return {QStringLiteral("connection reset"), Fault::Passing};
    case CURLE_SEND_ERROR:
        return {QStringLiteral("connection broken while sending"), Fault::Passing};
    case CURLE_WEIRD_SERVER_REPLY:
    // What curl says of an answer without an HTTP/1.x status line: the
    // scheme itself was checked before the request.
    case CURLE_UNSUPPORTED_PROTOCOL:
        return {QStringLiteral("not an HTTP response"), Fault::BadAnswer};
    case CURLE_OK:
        return {QStringLiteral("no response"), Fault::BadAnswer};
    default:
        return {QString::fromUtf8(curl_easy_strerror(static_cast<CURLcode>(curlResult))).toLower(), Fault::Lasting};
    }
}
