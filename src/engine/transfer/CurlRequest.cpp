#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/Policy.h"

#include "engine/transfer/TrustStore.h"
#include "engine/address/PrivateAddress.h"
#include "engine/address/UsableAddress.h"
#include "engine/Failure.h"
#include "engine/transfer/ProxyAnswer.h"
#include "engine/verdict/Verdict.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // A peer that closes while curl writes must not end the program.
        std::signal(SIGPIPE, SIG_IGN);
    });
}

namespace {
// "address port" of a socket's address, as a proxy's are kept.
QByteArray endpointText(const sockaddr* address)
{
    quint16 port = 0;
    if (address->sa_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    else if (address->sa_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    return PrivateAddress::textOf(address) + ' ' + QByteArray::number(port);
}

// Where the proxy the environment names listens, each address "address
// port": its host looked up once for the run, as curl will look it up. The
// proxy may be on this machine or its network; nothing else may then be.
QList<QByteArray> proxyEndpoints(const QString& proxy)
{
    static std::mutex lock;
    static QHash<QString, QList<QByteArray>> known;
    const std::lock_guard guard(lock);
    if (const auto found = known.constFind(proxy); found != known.cend())
        return *found;
    // curl's defaults: a proxy without a scheme is http, without a port 1080
    // (443 for an https one).
    const QUrl url(proxy.contains(QStringLiteral("://")) ? proxy : QStringLiteral("http://") + proxy);
    const QByteArray host = url.host().toUtf8();
    const QByteArray port = QByteArray::number(url.port(url.scheme() == QStringLiteral("https") ? 443 : 1080));
    QList<QByteArray> endpoints;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!host.isEmpty() && ::getaddrinfo(host.constData(), port.constData(), &hints, &found) == 0) {
        for (const addrinfo* each = found; each; each = each->ai_next)
            endpoints.append(endpointText(each->ai_addr));
        ::freeaddrinfo(found);
    }
    known.insert(proxy, endpoints);
    return endpoints;
}


template <class Value>
void set(void* easy, CURLoption option, Value value)
{
    if (const CURLcode result = curl_easy_setopt(easyOf(easy), option, value); result != CURLE_OK)
        throw Failure(QString::fromUtf8(curl_easy_strerror(result)));
}


// Whether curl has to look the address's host name up, rather than use the
// numeric address the host part already is.
bool needsNameLookup(const QByteArray& url)
{
    QByteArray host = ParsedAddress(url).part(CURLUPART_HOST);
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.sliced(1, host.size() - 2);
    in6_addr numeric{};
    return ::inet_pton(AF_INET, host.constData(), &numeric) != 1 && ::inet_pton(AF_INET6, host.constData(), &numeric) != 1;
}

}  // namespace

bool CurlRequest::resolvesNamesInBackground()
{
    initialiseCurlOnce();
    return (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_ASYNCHDNS) != 0;
}

CurlRequest::CurlRequest(Options options) : m_options(std::move(options))
{
    initialiseCurlOnce();
    // Until the handle is set up the destructor does not run for it.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    if (!easy)
        throw Failure(CannotStart);
    m_easy = easy.get();

    const long timeout = static_cast<long>(m_options.timeout.count());
    set(m_easy, CURLOPT_NOSIGNAL, 1L);
    set(m_easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(m_easy, CURLOPT_HTTPGET, 1L);
    set(m_easy, CURLOPT_FOLLOWLOCATION, 0L);
    set(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    set(m_easy, CURLOPT_TIMEOUT_MS, timeout);
    set(m_easy, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    set(m_easy, CURLOPT_SSL_VERIFYPEER, 1L);
    set(m_easy, CURLOPT_SSL_VERIFYHOST, 2L);
    // A proxy tunnel's own answer is not the server's response.
    set(m_easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(m_easy, CURLOPT_USERAGENT,
        m_options.userAgent.isEmpty() ? "Mozilla/5.0 (compatible; Tessaly/1.0)" : m_options.userAgent.constData());
    // Credentials go to the origin they were given for only, as curl's own
    // rule when it follows redirects: a hop elsewhere gets the other list.
    const auto isCredential = [](const QByteArray& header) {
        const QByteArray name = header.left(header.indexOf(':')).trimmed().toLower();
        return name == "authorization" || name == "proxy-authorization" || name == "cookie";
    };
    for (const bool elsewhere : {false, true}) {
        curl_slist* headers = nullptr;
        for (const QByteArray& header : m_options.headers) {
            if (elsewhere && isCredential(header))
                continue;
            // curl leaves out a header written "Name:" (that is how one of
            // its own is removed); "Name;" sends it with an empty value.
            const QByteArray line = header.trimmed().endsWith(':') ? header.trimmed().chopped(1) + ';' : header;
            curl_slist* longer = curl_slist_append(headers, line.constData());
            if (!longer) {
                curl_slist_free_all(headers);
                curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
                throw Failure(CannotStart);
            }
            headers = longer;
        }
        (elsewhere ? m_headersElsewhere : m_headerList) = headers;
    }

    set(m_easy, CURLOPT_HEADERFUNCTION, &CurlRequest::onHeaderLine);
    set(m_easy, CURLOPT_HEADERDATA, this);
    // Whether the request went to a proxy in the clear shows only in the
    // request line curl sends, which only the debug callback sees; it is
    // called only where a proxy may be used (see prepare).
    set(m_easy, CURLOPT_DEBUGFUNCTION, &CurlRequest::onDebug);
    set(m_easy, CURLOPT_DEBUGDATA, this);
    // A transfer ended during a name lookup must not wait for the lookup's
    // thread, which the system resolver may keep for many seconds.
    set(m_easy, CURLOPT_QUICK_EXIT, 1L);
    // A body is read only to keep its connection: compressed, it takes fewer
    // bytes, and it is never decoded.
    set(m_easy, CURLOPT_ACCEPT_ENCODING, "");
    set(m_easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    set(m_easy, CURLOPT_WRITEFUNCTION, &CurlRequest::onBodyData);
    set(m_easy, CURLOPT_WRITEDATA, this);
    // curl says "could not connect" for a socket it could not make as for a
    // refused connection; only the call that makes it sees why.
    set(m_easy, CURLOPT_OPENSOCKETFUNCTION, &CurlRequest::onOpenSocket);
    set(m_easy, CURLOPT_OPENSOCKETDATA, this);
    set(m_easy, CURLOPT_PREREQFUNCTION, &CurlRequest::beforeSending);
    set(m_easy, CURLOPT_PREREQDATA, this);
    static_assert(sizeof m_errorText >= CURL_ERROR_SIZE);
    set(m_easy, CURLOPT_ERRORBUFFER, m_errorText);
    if (!m_options.environmentProxy)
        set(m_easy, CURLOPT_PROXY, "");
    set(m_easy, CURLOPT_MAXAGE_CONN, static_cast<long>(Policy::IdleConnectionAge.count()));
    TrustStore::apply(m_easy, m_options.trust);
    // A handle takes one share: the jar's, which shares what the trust
    // store's does too, in its place.
    if (m_options.cookieShare) {
        set(m_easy, CURLOPT_SHARE, static_cast<CURLSH*>(m_options.cookieShare));
        // The shared jar is used only where the handle's cookie engine is on:
        // an empty name turns it on and reads nothing.
        set(m_easy, CURLOPT_COOKIEFILE, "");
    }
    easy.release();
}

CurlRequest::~CurlRequest()
{
    curl_easy_cleanup(easyOf(m_easy));
    curl_slist_free_all(static_cast<curl_slist*>(m_headerList));
    curl_slist_free_all(static_cast<curl_slist*>(m_headersElsewhere));
}

void CurlRequest::prepare(const QString& address)
{
    // A request that fails, for whatever reason, must never be judged by an
    // earlier address's response.
    m_block.clear();
    m_finalHeaders.clear();
    m_haveResponse = false;
    m_bodyBytes = 0;
    m_result = 0;
    m_socketError = 0;
    m_timesSent = 0;
    m_sendingRefused = false;
    m_errorText[0] = '\0';
    m_noResponse = NoResponse::explain(CURLE_OK, 0, {}, false);
    m_sentToProxy = false;
    m_proxysOwnAnswer.clear();
    m_respondedAt = NotResponded;
    m_refusedAddress.clear();
    m_triedOutside = false;
    const QByteArray url = usableAddress(address);
    if (!resolvesNamesInBackground() && needsNameLookup(url))
        throw Failure(QStringLiteral("This transfer library looks host names up on the calling thread, "
                                     "which would freeze the window: only numeric addresses can be requested"));
    set(m_easy, CURLOPT_URL, url.constData());
    m_url = url;
    set(m_easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_headerList));
    // A proxy may relay a kept connection to the first server it reached
    // (tinyproxy does), so the next address's request would go there: a plain
    // request that may go through a proxy gets a connection of its own. Only
    // such a request needs the debug callback, which costs a call for every
    // piece of data curl moves.
    const long mayGoThroughProxy = url.toLower().startsWith("http:") && !plainHttpProxy().isEmpty() ? 1L : 0L;
    set(m_easy, CURLOPT_FORBID_REUSE, mayGoThroughProxy);
    set(m_easy, CURLOPT_VERBOSE, mayGoThroughProxy);
    set(m_easy, CURLOPT_FRESH_CONNECT, 0L);
    m_proxyEndpoints.clear();
    if (m_options.excludePrivate && m_options.environmentProxy) {
        if (const QString proxy = proxyFor(url); !proxy.isEmpty())
            m_proxyEndpoints = proxyEndpoints(proxy);
    }
}

std::optional<std::chrono::steady_clock::time_point> CurlRequest::respondedAt() const
{
    const auto at = m_respondedAt.load();
    if (at == NotResponded)
        return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(at));
}

void CurlRequest::withoutCredentials()
{
    set(m_easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(m_headersElsewhere));
}

void CurlRequest::useNewConnection() { set(m_easy, CURLOPT_FRESH_CONNECT, 1L); }

void CurlRequest::closeConnectionAfter() { set(m_easy, CURLOPT_FORBID_REUSE, 1L); }

// The proxy curl takes from the environment for this address. no_proxy is
// left to curl: an address it exempts is connected to directly, and the
// socket's check holds for it as for any other.
QString CurlRequest::proxyFor(const QByteArray& url) const
{
    if (!url.toLower().startsWith("https:"))
        return plainHttpProxy();
    for (const char* variable : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (const QString proxy = qEnvironmentVariable(variable); !proxy.isEmpty())
            return proxy;
    }
    return {};
}

QString CurlRequest::plainHttpProxy() const
{
    if (!m_options.environmentProxy)
        return {};
    // The variables curl reads for a plain http address, in its order; it
    // ignores HTTP_PROXY on purpose.
    for (const char* variable : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
        if (const QString proxy = qEnvironmentVariable(variable); !proxy.isEmpty())
            return proxy;
    }
    return {};
}

void CurlRequest::finish(int curlResult)
{
    m_result = curlResult;
    if (curlResult != CURLE_OK)
        m_noResponse = explainedHere();
    // A server that ends the connection after a whole status line, before the
    // header block's blank line, has still answered: curl takes the close as
    // the end of the response, and so does the verdict, on what came.
    if (curlResult != CURLE_OK || m_haveResponse || !m_block.startsWith("HTTP/"))
        return;
    const int code = HeaderBlock::statusCode(m_block);
    if (code >= 100 && code < 200)
        return;
    if (m_sentToProxy && isProxysOwnAnswer(m_block)) {
        m_proxysOwnAnswer = m_block.left(m_block.indexOf("\r\n"));
        return;
    }
    m_finalHeaders = m_block;
    m_haveResponse = true;
}

void CurlRequest::refuse(const QString& why)
{
    m_noResponse = {QStringLiteral("the transfer could not be started: ") + why, Fault::ThisMachine};
}

QString CurlRequest::failureReason() const
{
    if (!m_proxysOwnAnswer.isEmpty())
        return QStringLiteral("the proxy answered for the server: ") + QString::fromLatin1(m_proxysOwnAnswer);
    return m_noResponse.reason;
}

Fault CurlRequest::fault() const { return m_proxysOwnAnswer.isEmpty() ? m_noResponse.fault : Fault::Lasting; }

// Asked once, when curl finished: the probe for free descriptors below
// could answer otherwise a moment later.
NoResponse CurlRequest::explainedHere() const
{
    long osError = 0;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_OS_ERRNO, &osError);
    long requestBytes = 0;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_REQUEST_SIZE, &requestBytes);
    if (m_sendingRefused)
        return {QStringLiteral("connection closed before the answer"), Fault::Passing};
    if (!m_refusedAddress.isEmpty() && !m_triedOutside)
        return {QStringLiteral("private address %1 not asked (--exclude-private)").arg(QString::fromLatin1(m_refusedAddress)),
                Fault::Lasting};
    int error = m_socketError != 0 ? m_socketError : static_cast<int>(osError);
    // The system resolver says only that it found nothing when it could not
    // open its own files: whether this process is out of descriptors tells.
    if (error == 0 && m_result == CURLE_COULDNT_RESOLVE_HOST) {
        if (const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC); probe >= 0)
            ::close(probe);
        else
            error = errno;
    }
    return NoResponse::explain(m_result, error, m_errorText, requestBytes > 0);
}

long CurlRequest::connectionsOpened() const
{
    long connects = 0;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_NUM_CONNECTS, &connects);
    return connects;
}

size_t CurlRequest::onHeaderLine(char* data, size_t size, size_t count, void* self)
{
    auto& request = *static_cast<CurlRequest*>(self);
    const size_t bytes = size * count;
    if (request.m_haveResponse)
        return bytes;  // trailers after the body
    QByteArrayView line(data, static_cast<qsizetype>(bytes));
    // Every response passes through here, interim ones included: a status
    // line starts a new block.
    if (line.startsWith("HTTP/"))
        request.m_block.clear();
    // Lines end in CR LF in the block whatever the server ended them with.
    if (line.endsWith('\n'))
        line.chop(line.endsWith("\r\n") ? 2 : 1);
    request.m_block.append(line).append("\r\n");
    if (line.isEmpty() && request.m_block.startsWith("HTTP/")) {
        const int code = HeaderBlock::statusCode(request.m_block);
        if (code < 100 || code >= 200) {
            // What a proxy says for a server it could not reach is no
            // response; the transfer ends here.
            if (request.m_sentToProxy && isProxysOwnAnswer(request.m_block)) {
                request.m_proxysOwnAnswer = request.m_block.left(request.m_block.indexOf("\r\n"));
                return 0;
            }
            request.m_finalHeaders = request.m_block;
            request.m_haveResponse = true;
            request.m_respondedAt = std::chrono::steady_clock::now().time_since_epoch().count();
            if (request.m_onResponse)
                request.m_onResponse();
        }
    }
    return bytes;
}

int CurlRequest::onDebug(void*, int type, char* data, size_t size, void* self)
{
    auto& request = *static_cast<CurlRequest*>(self);
    if (type != CURLINFO_HEADER_OUT)
        return 0;
    // "GET http://host/ HTTP/1.1": the absolute form goes only to a proxy.
    // Through a tunnel the proxy sees a CONNECT, the server the usual form.
    const QByteArrayView requestHead(data, static_cast<qsizetype>(size));
    const qsizetype target = requestHead.indexOf(' ') + 1;
    request.m_sentToProxy = target > 0 && requestHead.sliced(target).startsWith("http://");
    return 0;
}

int CurlRequest::onOpenSocket(void* self, int purpose, void* address)
{
    const auto& wanted = *static_cast<curl_sockaddr*>(address);
    auto& request = *static_cast<CurlRequest*>(self);
    // The proxy's own addresses are the only private ones allowed: an
    // address no_proxy sends straight is checked like any other.
    if (request.m_options.excludePrivate && purpose == CURLSOCKTYPE_IPCXN) {
        if (PrivateAddress::isPrivate(&wanted.addr) && !request.m_proxyEndpoints.contains(endpointText(&wanted.addr))) {
            request.m_refusedAddress = PrivateAddress::textOf(&wanted.addr);
            return CURL_SOCKET_BAD;
        }
        request.m_triedOutside = true;
    }
    const int socket = ::socket(wanted.family, wanted.socktype | SOCK_CLOEXEC, wanted.protocol);
    if (socket < 0)
        static_cast<CurlRequest*>(self)->m_socketError = errno;
    return socket;
}

int CurlRequest::beforeSending(void* self, char*, char*, int, int)
{
    auto& request = *static_cast<CurlRequest*>(self);
    if (request.m_options.sendOnce && request.m_timesSent > 0) {
        request.m_sendingRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    ++request.m_timesSent;
    return CURL_PREREQFUNC_OK;
}

size_t CurlRequest::onBodyData(char*, size_t size, size_t count, void* self)
{
    auto& request = *static_cast<CurlRequest*>(self);
    const auto bytes = static_cast<qint64>(size * count);
    if (request.m_bodyBytes + bytes > Policy::BodyLimit)
        return 0;  // ends the transfer: a large body is not worth reading
    request.m_bodyBytes += bytes;
    return size * count;
}
