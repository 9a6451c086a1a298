#pragma once

#include <QByteArray>
#include <QList>
#include "engine/transfer/Fault.h"
#include "engine/transfer/Policy.h"
#include "engine/transfer/TrustSources.h"
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <optional>

// One HTTP request on a libcurl easy handle, the way every part of the
// program asks: HTTP/1.1 so that the status line is the server's own, GET,
// redirects as answers, http and https only, proxies from the usual
// environment variables, certificates verified. It keeps the header block of
// the final response, lines ending in CR LF, and takes in at most Policy::BodyLimit
// bytes of a body. What a proxy answers on its own for a server it could not
// reach is no response. Every encoding libcurl can take is advertised, so that
// a body read to keep its connection comes compressed; bodies are never
// decoded. Whoever drives it (the window's transfer control, or one of the
// command line's lanes, each a thread with a multi handle of its own) adds
// handle() to a multi handle and calls finish() when curl reports the
// transfer done, on the thread that drives it.
class CurlRequest {
public:
    struct Options {
        std::chrono::milliseconds timeout;
        bool environmentProxy;  // http_proxy, https_proxy, no_proxy
        TrustSources trust;     // where the authorities it trusts are read from
        // curl sends a request again by itself, on a new connection, when the
        // kept one it went out on closed before any answer. With this set it
        // does not: the request ends with no answer (a passing fault), so
        // that whoever asks decides whether to ask again, and counts it.
        bool sendOnce = false;
        // What the request says it is; empty: the window's own words.
        QByteArray userAgent = {};
        // Header lines added to every request, "Name: value", each checked
        // already (none that curl sets itself, none with CR or LF).
        QList<QByteArray> headers = {};
        // Connects to no loopback, private, link-local or unspecified
        // address, however the host's name resolved: the address is checked
        // on the socket curl is about to connect, so a lookup cannot give
        // another answer later. Through a proxy, the proxy's own addresses
        // may be private, and only the names and addresses written can be
        // checked for where it connects (by whoever asks); an address
        // no_proxy exempts is connected to directly and checked.
        bool excludePrivate = false;
        // A CURLSH sharing cookies between requests (CookieJar), or none:
        // no cookies kept at all.
        void* cookieShare = nullptr;
    };

    explicit CurlRequest(Options options);
    ~CurlRequest();
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    const Options& options() const { return m_options; }

    // Forgets the previous response and points the handle at the address.
    // Raises Failure for an address that is not http or https, that curl
    // cannot parse, or that holds control characters or backslashes.
    void prepare(const QString& address);
    // After prepare(): the request is a redirect's hop to another origin
    // than its line's, and gets none of Options::headers' credentials
    // (Authorization, Proxy-Authorization, Cookie).
    void withoutCredentials();
    // After prepare(): this request opens a connection of its own rather than
    // take a kept one (an address asked again after no answer).
    void useNewConnection();
    // After prepare(): the connection is closed once this request is done,
    // rather than kept (its origin has nothing more to ask).
    void closeConnectionAfter();
    // The proxy the environment names for plain http addresses, or empty.
    QString plainHttpProxy() const;
    // The proxy the environment names for this address, or empty.
    QString proxyFor(const QByteArray& url) const;
    // The address as prepare() gave it to curl.
    const QByteArray& url() const { return m_url; }
    // The CURL easy handle, to add to a multi handle.
    void* handle() const { return m_easy; }
    // curl reported the transfer done with this CURLcode.
    void finish(int curlResult);
    // A driver could not start the request (curl's words why): no response,
    // for want of something on this machine.
    void refuse(const QString& why);

    // The final response's header block is complete (interim 1xx blocks are
    // not kept).
    bool haveResponse() const { return m_haveResponse; }
    // That block as received, status line first, each line ending in CR LF.
    const QByteArray& headers() const { return m_finalHeaders; }
    // Body bytes taken in for this address.
    qint64 bodyBytes() const { return m_bodyBytes; }
    // The CURLcode that finish() was given (0 when none yet).
    int result() const { return m_result; }
    // Why there is no response, in a few words ("no such host", "time-out",
    // "refused", "certificate not trusted", a proxy's own answer, ...).
    QString failureReason() const;
    // Why a request without a response got none, as far as asking again goes.
    Fault fault() const;
    bool failedHere() const { return !m_haveResponse && fault() == Fault::ThisMachine; }
    // With Options::excludePrivate: no connection was made because every
    // address the host resolved to was private (refusedAddress() the last).
    // Where another address was tried, what came of that one is the reason.
    bool refusedPrivate() const { return !m_haveResponse && !m_refusedAddress.isEmpty() && !m_triedOutside; }
    const QByteArray& refusedAddress() const { return m_refusedAddress; }

    // New connections this request opened (a reused one is not counted).
    long connectionsOpened() const;
    // With Options::sendOnce: the kept connection it went out on closed
    // before any answer, and curl was not let send it again.
    bool keptConnectionClosed() const { return m_sendingRefused; }

    // Whether this libcurl looks host names up on a thread of its own. When it
    // does not, a lookup would hold the calling thread for as long as the
    // system's resolver takes, which curl cannot cut short without signals:
    // such a library requests numeric addresses only, and host names raise
    // Failure.
    static bool resolvesNamesInBackground();

    // Called once a final response's header block is complete, on the
    // thread that drives the request.
    void setOnResponse(std::function<void()> callback) { m_onResponse = std::move(callback); }
    // When that block was complete, if it is yet; may be asked from another
    // thread while the request is driven.
    std::optional<std::chrono::steady_clock::time_point> respondedAt() const;

private:
    static size_t onHeaderLine(char* data, size_t size, size_t count, void* self);
    static int onDebug(void* easy, int type, char* data, size_t size, void* self);
    static size_t onBodyData(char* data, size_t size, size_t count, void* self);
    static int onOpenSocket(void* self, int purpose, void* address);
    static int beforeSending(void* self, char* serverAddress, char* localAddress, int serverPort, int localPort);
    NoResponse explainedHere() const;

    Options m_options;
    void* m_easy = nullptr;
    QByteArray m_block;         // the header block being received
    QByteArray m_finalHeaders;  // the final response's complete header block
    bool m_haveResponse = false;
    QByteArray m_proxysOwnAnswer;  // its status line, when a proxy answered for the server
    bool m_sentToProxy = false;    // the request went to a proxy, not through a tunnel
    qint64 m_bodyBytes = 0;
    int m_result = 0;
    int m_socketError = 0;  // errno of a socket this machine could not make
    int m_timesSent = 0;
    bool m_sendingRefused = false;  // a second sending, stopped by sendOnce
    NoResponse m_noResponse;        // why there is none, settled when curl finished
    char m_errorText[256] = {};     // curl's words for the failure (CURLOPT_ERRORBUFFER)
    std::function<void()> m_onResponse;
    QByteArray m_url;
    void* m_headerList = nullptr;  // curl_slist of Options::headers
    void* m_headersElsewhere = nullptr;  // the same without Authorization, Proxy-Authorization and Cookie
    QByteArray m_refusedAddress;   // a private address not connected to
    bool m_triedOutside = false;   // a socket was made for an address that is not
    QList<QByteArray> m_proxyEndpoints;  // with excludePrivate, where the address's proxy listens
    static constexpr std::chrono::steady_clock::rep NotResponded = std::numeric_limits<std::chrono::steady_clock::rep>::min();
    std::atomic<std::chrono::steady_clock::rep> m_respondedAt{NotResponded};
};

// Starts libcurl once for the whole program and keeps SIGPIPE from ending it.
void initialiseCurlOnce();
