#include "platform/CurlTransfer.h"

#include "platform/Failure.h"

#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <csignal>
#include <mutex>

namespace {

void initialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // A peer that closes while curl writes must not end the program.
        std::signal(SIGPIPE, SIG_IGN);
    });
}

CURL* easyOf(void* handle) { return static_cast<CURL*>(handle); }
CURLM* multiOf(void* handle) { return static_cast<CURLM*>(handle); }

template <class Value>
void set(void* easy, CURLoption option, Value value)
{
    if (const CURLcode result = curl_easy_setopt(easyOf(easy), option, value); result != CURLE_OK)
        throw Failure(QString::fromUtf8(curl_easy_strerror(result)));
}

bool isControlCharacter(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; }

// The address as curl takes it, or Failure when it is no http or https
// address that curl can parse.
QByteArray usableAddress(const QString& address)
{
    if (std::any_of(address.begin(), address.end(), isControlCharacter))
        throw Failure(QStringLiteral("The address contains control characters"));
    // A browser reads a backslash as a slash, curl as an ordinary character:
    // in "http://a:1\\@b:2/" the one goes to a, port 1, the other to b, port 2.
    // No address means both, and the browser layer refuses it as well.
    if (address.contains(u'\\'))
        throw Failure(QStringLiteral("The address contains a backslash"));
    const QByteArray bytes = address.toUtf8();
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (const CURLUcode result = curl_url_set(parsed.get(), CURLUPART_URL, bytes.constData(), 0); result != CURLUE_OK)
        throw Failure(QStringLiteral("The address cannot be used: ") + QString::fromUtf8(curl_url_strerror(result)));
    char* scheme = nullptr;
    curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0);
    const QByteArray schemeText = QByteArray(scheme ? scheme : "").toLower();
    curl_free(scheme);
    if (schemeText != "http" && schemeText != "https")
        throw Failure(QStringLiteral("Only http and https addresses can be requested"));

    // A host name in another script goes to curl in its ASCII form: curl's
    // own conversion reads the name in the locale's encoding, and so fails
    // for every such name under a C locale.
    char* host = nullptr;
    curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0);
    const QByteArray hostText(host ? host : "");
    curl_free(host);
    if (std::all_of(hostText.begin(), hostText.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
    const QByteArray asciiHost = QUrl::toAce(QString::fromUtf8(hostText));
    if (asciiHost.isEmpty() || curl_url_set(parsed.get(), CURLUPART_HOST, asciiHost.constData(), 0) != CURLUE_OK)
        throw Failure(QStringLiteral("The host name cannot be used"));
    char* url = nullptr;
    curl_url_get(parsed.get(), CURLUPART_URL, &url, 0);
    const QByteArray converted(url ? url : "");
    curl_free(url);
    return converted;
}

// The status code of a status line ("HTTP/1.1 100 Continue" gives 100), or 0.
int statusCodeOf(QByteArrayView block)
{
    const qsizetype space = block.indexOf(' ');
    if (space < 0 || block.size() < space + 4)
        return 0;
    bool ok = false;
    const int code = block.sliced(space + 1, 3).toInt(&ok);
    return ok ? code : 0;
}

}  // namespace

struct CurlTransfer::SocketWatch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

CurlTransfer::CurlTransfer() : CurlTransfer(Options{DefaultTimeout, true, {}}) {}

CurlTransfer::CurlTransfer(Options options) : m_options(std::move(options))
{
    initialiseOnce();
    m_multi = curl_multi_init();
    m_easy = curl_easy_init();
    if (!m_multi || !m_easy)
        throw Failure(QStringLiteral("The transfer library cannot be started"));

    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETFUNCTION, &CurlTransfer::onSocketInterest);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERFUNCTION, &CurlTransfer::onTimerRequest);
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_TIMERDATA, this);

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
    set(m_easy, CURLOPT_USERAGENT, "Mozilla/5.0 (compatible; Tessaly/1.0)");
    set(m_easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeaderLine);
    set(m_easy, CURLOPT_HEADERDATA, this);
    set(m_easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBodyData);
    set(m_easy, CURLOPT_WRITEDATA, this);
    if (!m_options.environmentProxy)
        set(m_easy, CURLOPT_PROXY, "");
    if (!m_options.certificateAuthorityFile.isEmpty())
        set(m_easy, CURLOPT_CAINFO, QFile::encodeName(m_options.certificateAuthorityFile).constData());

    m_curlTimer.setSingleShot(true);
    QObject::connect(&m_curlTimer, &QTimer::timeout, [this] { driveTimeout(); });
}

CurlTransfer::~CurlTransfer()
{
    // The multi handle calls back into the socket map and the timer while it
    // closes its cached connections, so it goes while they still exist.
    if (m_transferGoing)
        curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
    curl_easy_cleanup(easyOf(m_easy));
    curl_multi_cleanup(multiOf(m_multi));
    m_sockets.clear();
}

void CurlTransfer::request(const QString& address)
{
    if (m_waiting)
        throw Failure(QStringLiteral("The transfer control is still waiting for a response"));
    finishPreviousTransfer();
    // A request that fails, for whatever reason, must never be judged by an
    // earlier address's response.
    m_block.clear();
    m_finalHeaders.clear();
    m_haveResponse = false;
    m_bodyBytes = 0;
    const QByteArray url = usableAddress(address);

    set(m_easy, CURLOPT_URL, url.constData());
    if (const CURLMcode result = curl_multi_add_handle(multiOf(m_multi), easyOf(m_easy)); result != CURLM_OK)
        throw Failure(QString::fromUtf8(curl_multi_strerror(result)));
    m_transferGoing = true;
    // Started here rather than on the next pass of the event loop: a reused
    // connection has the request on its way at once.
    driveTimeout();

    // curl ends the transfer at its own time-out; the margin only guards
    // against a transfer that curl never reports as finished.
    waitUntil([this] { return m_haveResponse || !m_transferGoing; },
              QDeadlineTimer(m_options.timeout + std::chrono::milliseconds(500)));
    if (!m_haveResponse && m_transferGoing)
        endTransfer();
}

QString CurlTransfer::responseHeaders()
{
    if (!m_haveResponse)
        throw Failure(QStringLiteral("No response headers are available"));
    return QString::fromLatin1(m_finalHeaders);
}

// A small body still on its way is let through so that the connection can be
// reused; one that takes longer is dropped with its connection.
void CurlTransfer::finishPreviousTransfer()
{
    if (!m_transferGoing)
        return;
    waitUntil([this] { return !m_transferGoing; }, QDeadlineTimer(DrainGrace));
    if (m_transferGoing)
        endTransfer();
}

void CurlTransfer::waitUntil(const std::function<bool()>& condition, QDeadlineTimer deadline)
{
    if (condition())
        return;
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    m_waiting = &loop;
    while (!condition() && !deadline.hasExpired()) {
        guard.start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 1 << 30)));
        loop.exec();
    }
    m_waiting = nullptr;
}

// The waiting request returns through the event loop once the callback that
// woke it has gone back to curl.
void CurlTransfer::wake()
{
    if (m_waiting)
        m_waiting->quit();
}

size_t CurlTransfer::onHeaderLine(char* data, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const size_t bytes = size * count;
    if (transfer.m_haveResponse)
        return bytes;  // trailers after the body
    const QByteArrayView line(data, static_cast<qsizetype>(bytes));
    // Every response passes through here, interim ones included: a status
    // line starts a new block.
    if (line.startsWith("HTTP/"))
        transfer.m_block.clear();
    transfer.m_block.append(line);
    if ((line == "\r\n" || line == "\n") && transfer.m_block.startsWith("HTTP/")) {
        const int code = statusCodeOf(transfer.m_block);
        if (code < 100 || code >= 200) {
            transfer.m_finalHeaders = transfer.m_block;
            transfer.m_haveResponse = true;
            transfer.wake();
        }
    }
    return bytes;
}

size_t CurlTransfer::onBodyData(char*, size_t size, size_t count, void* self)
{
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const auto bytes = static_cast<qint64>(size * count);
    if (transfer.m_bodyBytes + bytes > BodyLimit)
        return 0;  // ends the transfer: a large body is not worth reading
    transfer.m_bodyBytes += bytes;
    return size * count;
}

int CurlTransfer::onSocketInterest(void*, int socket, int what, void* self, void*)
{
    static_cast<CurlTransfer*>(self)->watchSocket(socket, what);
    return 0;
}

int CurlTransfer::onTimerRequest(void*, long milliseconds, void* self)
{
    auto& timer = static_cast<CurlTransfer*>(self)->m_curlTimer;
    if (milliseconds < 0)
        timer.stop();
    else
        timer.start(static_cast<int>(std::min<long>(milliseconds, 1 << 30)));
    return 0;
}

void CurlTransfer::watchSocket(int socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        forgetSocket(socket);
        return;
    }
    auto& watch = m_sockets[socket];
    if (!watch)
        watch = std::make_unique<SocketWatch>();
    auto notifier = [&](std::unique_ptr<QSocketNotifier>& slot, QSocketNotifier::Type type, int events, bool wanted) {
        if (wanted && !slot) {
            slot = std::make_unique<QSocketNotifier>(socket, type);
            QObject::connect(slot.get(), &QSocketNotifier::activated,
                             [this, socket, events] { driveSocket(socket, events); });
        }
        if (slot)
            slot->setEnabled(wanted);
    };
    notifier(watch->read, QSocketNotifier::Read, CURL_CSELECT_IN, what & CURL_POLL_IN);
    notifier(watch->write, QSocketNotifier::Write, CURL_CSELECT_OUT, what & CURL_POLL_OUT);
}

// The socket may be closed, and its number reused, as soon as curl returns:
// its notifiers stop at once. One that is delivering its own signal is
// deleted later. A socket never announced has nothing to remove.
void CurlTransfer::forgetSocket(int socket)
{
    const auto found = m_sockets.find(socket);
    if (found == m_sockets.end())
        return;
    for (auto* slot : {&found->second->read, &found->second->write}) {
        if (!*slot)
            continue;
        (*slot)->setEnabled(false);
        if (m_driving)
            slot->release()->deleteLater();
        else
            slot->reset();
    }
    m_sockets.erase(found);
}

void CurlTransfer::driveSocket(int socket, int events)
{
    int running = 0;
    m_driving = true;
    curl_multi_socket_action(multiOf(m_multi), socket, events, &running);
    collectFinished();
    m_driving = false;
}

void CurlTransfer::driveTimeout()
{
    int running = 0;
    m_driving = true;
    curl_multi_socket_action(multiOf(m_multi), CURL_SOCKET_TIMEOUT, 0, &running);
    collectFinished();
    m_driving = false;
}

// Finished transfers leave the multi handle here, outside curl's callbacks.
void CurlTransfer::collectFinished()
{
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(multiOf(m_multi), &waiting)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy && m_transferGoing)
            endTransfer();
    }
}

void CurlTransfer::endTransfer()
{
    long connects = 0;
    curl_easy_getinfo(easyOf(m_easy), CURLINFO_NUM_CONNECTS, &connects);
    m_connectionsOpened += connects;
    curl_multi_remove_handle(multiOf(m_multi), easyOf(m_easy));
    m_transferGoing = false;
    wake();
}
