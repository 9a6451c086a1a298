#include "engine/transfer/QtLoopTransfer.h"

#include "engine/EventLoopWait.h"
#include "engine/Failure.h"
#include "engine/OpenFiles.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/Policy.h"
#include "engine/transfer/RedirectChain.h"
#include "engine/transfer/TrustStore.h"
#include "engine/verdict/Verdict.h"

#include <QEventLoop>
#include <QProcessEnvironment>
#include <QSocketNotifier>

#include <curl/curl.h>

#include <algorithm>
#include <memory>

// The window trusts what the OpenSSL variables name, as tessaly-check does.
QtLoopTransfer::QtLoopTransfer()
    : QtLoopTransfer(Options{Policy::Timeout, true, trustSourcesFrom(QProcessEnvironment::systemEnvironment())})
{
}

QtLoopTransfer::QtLoopTransfer(Options options)
    : m_request(std::move(options)),
      m_ready(std::make_unique<QSocketNotifier>(m_driver.descriptor(), QSocketNotifier::Read))
{
    m_request.setOnResponse([this] { wake(); });
    QObject::connect(m_ready.get(), &QSocketNotifier::activated, [this] { drive(); });

    m_curlTimer.setSingleShot(true);
    // Not early: a timer that fires before curl's time drives nothing.
    m_curlTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_curlTimer, &QTimer::timeout, [this] { drive(); });
    m_idleTimer.setSingleShot(true);
    QObject::connect(&m_idleTimer, &QTimer::timeout, [this] { closeIdleConnections(); });
}

void QtLoopTransfer::closeIdleConnections()
{
    if (m_transferGoing || m_waiting)
        return;
    m_driver.closeIdle();
    keepIdleConnections();
    armTimer();
}

void QtLoopTransfer::expectAddresses(qsizetype count, const AddressAt& address)
{
    m_ahead.emplace();
    for (qsizetype i = 0; i < count; ++i)
        m_ahead->add(address(i));
    // Kept connections are open files, and the window opens files of its own.
    m_mostIdleConnections = std::max(1L, OpenFiles::free() - Policy::FilesKeptFree);
    keepIdleConnections();
}

// As many idle connections as hosts still to be asked, within the limit,
// beside the one in use (curl counts that too); as many as before when
// nothing is known of what comes.
void QtLoopTransfer::keepIdleConnections()
{
    const long kept = m_ahead ? m_ahead->connectionsWorthKeeping(m_mostIdleConnections) + 1 : Policy::IdleConnections;
    m_driver.setMaxConnects(kept);
}

QtLoopTransfer::~QtLoopTransfer()
{
    if (m_transferGoing)
        m_driver.remove(m_request);
}

void QtLoopTransfer::request(const QString& address)
{
    if (m_waiting)
        throw Failure(QStringLiteral("The transfer control is still waiting for a response"));
    finishPreviousTransfer();
    m_idleTimer.stop();
    m_redirectsEnded = false;
    // An address that cannot be asked raises a failure; one its redirects
    // lead to that cannot be is no answer.
    m_request.prepare(address);
    const QByteArray utf8 = address.toUtf8();
    const bool lastOfItsOrigin = m_ahead && m_ahead->removeAndTellIfLast(utf8);
    askPrepared(utf8, lastOfItsOrigin);
    RedirectChain chain(utf8, RedirectChain::DefaultLimit);
    while (m_request.haveResponse()) {
        const QList<QByteArray> locations = HeaderBlock::values(m_request.headers(), "location");
        const RedirectChain::Step step = chain.after(HeaderBlock::statusCode(m_request.headers()),
                                                     locations.isEmpty() ? QByteArray() : locations.first());
        if (step == RedirectChain::Step::Final)
            return;
        if (step == RedirectChain::Step::Stopped) {
            m_redirectsEnded = true;
            return;
        }
        finishPreviousTransfer();
        try {
            m_request.prepare(QString::fromUtf8(chain.next()));
        } catch (const Failure&) {
            m_redirectsEnded = true;
            return;
        }
        askPrepared(chain.next(), false);
    }
}

// One request of the address prepared, until its answer's head or its end.
void QtLoopTransfer::askPrepared(const QByteArray& address, bool lastOfItsOrigin)
{
    m_origin = QString::fromUtf8(HostKey::originOf(address));
    if (m_ahead) {
        if (lastOfItsOrigin)
            m_request.closeConnectionAfter();
        keepIdleConnections();
    }
    // The trust store is read on a worker from start-up; the first request
    // that may speak TLS waits for it here, with the window live, rather than
    // inside curl's handshake.
    // A store the user named that cannot be read fails every address, plain
    // http too, as it fails tessaly-check's whole run: the reason names it.
    const TrustSources& authorities = m_request.options().trust;
    const bool named = !authorities.onlySystem();
    if ((named || mayUseTls(address)) && !TrustStore::ready(authorities)) {
        auto wakeFromWorker = std::make_shared<CrossThreadWake>();
        TrustStore::whenReady(authorities, [wakeFromWorker] { wakeFromWorker->wake(); });
        waitUntil([&] { return TrustStore::ready(authorities); }, QDeadlineTimer(m_request.options().timeout),
                  wakeFromWorker.get());
    }
    if (named && TrustStore::ready(authorities))
        if (const std::optional<QString> problem = TrustStore::problem(authorities))
            throw Failure(*problem);
    if (const std::optional<QString> refusal = m_driver.add(m_request))
        throw Failure(*refusal);
    m_transferGoing = true;
    // Started here rather than on the next pass of the event loop: a reused
    // connection has the request on its way at once.
    drive();

    waitUntil([this] { return m_request.haveResponse() || !m_transferGoing; },
              QDeadlineTimer(m_request.options().timeout + Policy::TimeoutMargin));
    noteConnectionCost();
    if (!m_request.haveResponse() && m_transferGoing)
        endTransfer();
}

QString QtLoopTransfer::responseHeaders()
{
    if (!m_request.haveResponse() || m_redirectsEnded)
        throw Failure(QStringLiteral("No response headers are available"));
    return QString::fromLatin1(m_request.headers());
}

// A body still on its way is let through so that the connection can be
// reused, for as long as a new connection to its host would take; one that
// takes longer is dropped with its connection.
void QtLoopTransfer::finishPreviousTransfer()
{
    if (!m_transferGoing)
        return;
    const auto known = m_connectionCost.find(m_origin);
    const auto grace = std::clamp(known == m_connectionCost.end()
                                      ? Policy::DrainGrace
                                      : std::chrono::ceil<std::chrono::milliseconds>(known->second),
                                  Policy::DrainGraceLeast, Policy::DrainGrace);
    waitUntil([this] { return !m_transferGoing; }, QDeadlineTimer(grace));
    if (m_transferGoing)
        endTransfer();
}

// What the connection this request opened took, from the start to the end of
// the TLS handshake (or of the TCP connect, over plain http).
void QtLoopTransfer::noteConnectionCost()
{
    if (m_request.connectionsOpened() == 0)
        return;
    curl_off_t connected = 0;
    curl_off_t handshaken = 0;
    curl_easy_getinfo(easyOf(m_request), CURLINFO_CONNECT_TIME_T, &connected);
    curl_easy_getinfo(easyOf(m_request), CURLINFO_APPCONNECT_TIME_T, &handshaken);
    if (connected == 0)
        return;
    if (m_connectionCost.size() >= Policy::OriginsRemembered)
        m_connectionCost.clear();
    m_connectionCost[m_origin] = std::chrono::microseconds(std::max(connected, handshaken));
}

void QtLoopTransfer::waitUntil(const std::function<bool()>& condition, QDeadlineTimer deadline, CrossThreadWake* wakeFromWorker)
{
    if (condition())
        return;
    EventLoopWait wait;
    m_waiting = &wait.loop();
    if (wakeFromWorker)
        wakeFromWorker->watch(&wait.loop());
    wait.until(condition, deadline);
    if (wakeFromWorker)
        wakeFromWorker->watch(nullptr);
    m_waiting = nullptr;
}

// A quit posted to the loop reaches it on this thread; one still queued when
// the loop goes is dropped with it.
void QtLoopTransfer::CrossThreadWake::wake()
{
    const std::lock_guard locked(m_guard);
    if (m_loop)
        QMetaObject::invokeMethod(m_loop, &QEventLoop::quit, Qt::QueuedConnection);
}

void QtLoopTransfer::CrossThreadWake::watch(QEventLoop* loop)
{
    const std::lock_guard locked(m_guard);
    m_loop = loop;
}

// Whether the request may start a TLS connection: to the server, or to a
// proxy from the environment spoken to over TLS.
bool QtLoopTransfer::mayUseTls(QByteArrayView address) const
{
    return address.first(std::min<qsizetype>(6, address.size())).compare("https:", Qt::CaseInsensitive) == 0
        || m_request.plainHttpProxy().startsWith(u"https:", Qt::CaseInsensitive);
}

// The waiting request returns through the event loop once the callback that
// woke it has gone back to curl.
void QtLoopTransfer::wake()
{
    if (m_waiting)
        m_waiting->quit();
}

// What is ready, and then the timer set again for what curl asks next.
void QtLoopTransfer::drive()
{
    for (CurlRequest* finished : m_driver.driveReady()) {
        if (finished == &m_request && m_transferGoing)
            endTransfer();
    }
    armTimer();
}

void QtLoopTransfer::armTimer()
{
    const auto& due = m_driver.timerDue();
    if (!due) {
        m_curlTimer.stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - CurlDriver::Clock::now()).count();
    m_curlTimer.start(static_cast<int>(std::clamp<long long>(left, 0, 1 << 30)));
}

void QtLoopTransfer::endTransfer()
{
    m_connectionsOpened += m_request.connectionsOpened();
    m_driver.remove(m_request);
    armTimer();
    m_transferGoing = false;
    m_idleTimer.start(m_idleConnectionAge);
    wake();
}
