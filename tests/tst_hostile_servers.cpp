// Servers that misbehave, each in the middle of a check run through the real
// curl transfer: every address still gets its verdict in list order, the run
// ends with "Done.", the window keeps handling events, and a server cannot
// make the program read more than it means to.
#include "LoopbackServer.h"
#include "engine/transfer/Policy.h"
#include "WindowTesting.h"
#include "StallMeter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using Reply = LoopbackServer::Reply;

namespace {
// What a server may push into the socket buffers before the program stops
// reading; far below the gigabyte it offers.
constexpr qint64 SentLimit = 32LL * 1024 * 1024;
constexpr qint64 Gigabyte = 1024LL * 1024 * 1024;

// Where the misbehaving address lives.
enum class Kind {
    Plain,         // on a plain HTTP server
    Refused,       // on a port where nothing listens
    Tls,           // https on a TLS server whose certificate nobody trusts
    HttpsToPlain,  // https on a plain HTTP server
    PlainToTls,    // http on a TLS server
};


// The window's transfer control, noting how much body each address took in
// before the next request replaced it.
class ObservedTransfer final : public TransferControl {
public:
    explicit ObservedTransfer(const QtLoopTransfer::Options& options) : m_curl(options) {}

    void request(const QString& address) override
    {
        noteBody();
        m_current = address;
        m_curl.request(address);
    }
    QString responseHeaders() override { return m_curl.responseHeaders(); }

    void noteBody()
    {
        if (!m_current.isNull())
            bodyBytes[m_current] = std::max(bodyBytes.value(m_current), m_curl.bodyBytesReceived());
    }
    QHash<QString, qint64> bodyBytes;

private:
    QtLoopTransfer m_curl;
    QString m_current;
};
}  // namespace

Q_DECLARE_METATYPE(Kind)

class HostileServersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_tls = LoopbackServer::selfSignedCertificate(m_folder.path());
    }

    void everyAddressIsJudgedAroundAHostileServer_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("pause");

        const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        Reply silent;
        silent.silent = true;
        QTest::newRow("no answer at all: the time-out") << Kind::Plain << silent << false << "0";

        Reply trickle = LoopbackServer::raw(ok);
        trickle.trickleMilliseconds = 1000;
        QTest::newRow("one byte a second") << Kind::Plain << trickle << false << "0";

        QTest::newRow("a reset after the status line")
            << Kind::Plain << LoopbackServer::raw("HTTP/1.1 200 OK\r\n", Reply::After::Reset) << false << "0";
        QTest::newRow("a connection refused") << Kind::Refused << Reply{} << false << "0";

        QTest::newRow("a status line of garbage")
            << Kind::Plain << LoopbackServer::raw("SSH-2.0-OpenSSH_9.2\r\nProtocol mismatch.\r\n\r\n", Reply::After::Close)
            << false << "0";
        QByteArray noise(4096, '\0');
        QRandomGenerator bytes(6);
        for (char& byte : noise)
            byte = static_cast<char>(bytes.bounded(256));
        QTest::newRow("binary noise, NULs and all")
            << Kind::Plain << LoopbackServer::raw(noise, Reply::After::Close) << false << "0";
        QTest::newRow("a status code of letters")
            << Kind::Plain << LoopbackServer::raw("HTTP/1.1 2OO OK\r\nContent-Length: 0\r\n\r\n") << false << "0";

        QByteArray manyHeaders = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; manyHeaders.size() < 1024 * 1024; ++i)
            manyHeaders += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(200, 'a') + "\r\n";
        QTest::newRow("a megabyte of headers")
            << Kind::Plain << LoopbackServer::raw(manyHeaders + "Content-Length: 0\r\n\r\n") << false << "0";
        Reply endlessHeader = LoopbackServer::raw("HTTP/1.1 200 OK\r\nX-Endless: ");
        endlessHeader.generatedBodyBytes = Gigabyte;
        QTest::newRow("a header line of a gigabyte") << Kind::Plain << endlessHeader << false << "0";
        QByteArray interims;
        while (interims.size() < 512 * 1024)
            interims += "HTTP/1.1 100 Continue\r\n\r\n";
        QTest::newRow("interim responses and never a final one")
            << Kind::Plain << LoopbackServer::raw(interims) << false << "0";

        // The pause lets the body run to the limit before the next address.
        Reply huge = LoopbackServer::raw("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(Gigabyte) + "\r\n\r\n");
        huge.generatedBodyBytes = Gigabyte;
        QTest::newRow("a body of a gigabyte") << Kind::Plain << huge << true << "0.3";

        Reply self = LoopbackServer::answer("HTTP/1.1 301 Moved Permanently", "Location: /hostile\r\n");
        QTest::newRow("a redirect to itself") << Kind::Plain << self << false << "0";

        QTest::newRow("TLS with a self-signed certificate")
            << Kind::Tls << LoopbackServer::answer("HTTP/1.1 200 OK") << false << "0";
        QTest::newRow("https to a plain server")
            << Kind::HttpsToPlain << LoopbackServer::answer("HTTP/1.1 200 OK") << false << "0";
        QTest::newRow("plain http to a TLS server")
            << Kind::PlainToTls << LoopbackServer::answer("HTTP/1.1 200 OK") << false << "0";
    }
    void everyAddressIsJudgedAroundAHostileServer()
    {
        QFETCH(Kind, kind);
        QFETCH(Reply, reply);
        QFETCH(bool, valid);
        QFETCH(QString, pause);
        const bool tls = kind == Kind::Tls || kind == Kind::PlainToTls;
        if (tls && !m_tls)
            QSKIP("the openssl command is not there to make a certificate");

        LoopbackServer normal;
        normal.route("/before", LoopbackServer::answer("HTTP/1.1 200 OK", {}, "before"));
        normal.route("/after", LoopbackServer::answer("HTTP/1.1 200 OK", {}, "after"));
        std::unique_ptr<LoopbackServer> hostile = tls ? std::make_unique<LoopbackServer>(*m_tls)
                                                      : std::make_unique<LoopbackServer>();
        hostile->route("/hostile", reply);
        hostile->route("/fine", LoopbackServer::answer("HTTP/1.1 200 OK", {}, "fine"));

        QString hostileAddress = hostile->url("/hostile");
        if (kind == Kind::Refused)
            hostileAddress = QStringLiteral("http://127.0.0.1:%1/hostile").arg(LoopbackServer::refusedPort());
        else if (kind == Kind::HttpsToPlain)
            hostileAddress.replace(0, 4, QStringLiteral("https"));
        else if (kind == Kind::PlainToTls)
            hostileAddress.replace(0, 5, QStringLiteral("http"));
        // The same server's ordinary page, on a connection of its own. Over TLS
        // it is as untrusted as the rest of that server.
        const QString fine = hostile->url("/fine");
        const bool fineValid = !tls;

        ObservedTransfer* transfer = nullptr;
        TestWindow window(pause, [&] {
            auto made = std::make_unique<ObservedTransfer>(QtLoopTransfer::Options{HostileTimeout, false, {}});
            transfer = made.get();
            return made;
        });
        TestPlatform& test = window.test;
        Form1& form = window.form;
        const QStringList urls{normal.url("/before"), hostileAddress, fine, normal.url("/missing"), normal.url("/after")};
        for (const QString& url : urls)
            form.ListView1->add(url);
        test.dialogs.expectMessage();

        StallMeter meter;
        QElapsedTimer clock;
        clock.start();
        meter.start();
        form.PushButton4_Click();
        const qint64 stall = meter.stop();
        const qint64 elapsed = clock.elapsed();
        QVERIFY(transfer);
        transfer->noteBody();

        QStringList expectedValid{normal.url("/before")};
        QStringList expectedInvalid;
        (valid ? expectedValid : expectedInvalid) << hostileAddress;
        (fineValid ? expectedValid : expectedInvalid) << fine;
        expectedInvalid << normal.url("/missing");
        expectedValid << normal.url("/after");
        QCOMPARE(itemsOf(*form.ListView2), expectedValid);
        QCOMPARE(itemsOf(*form.ListView3), expectedInvalid);
        QCOMPARE(itemsOf(*form.ListView1), urls);
        // Network outcomes are verdicts, not failures: "Done." is the only box.
        QCOMPARE(test.dialogs.texts(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(form.MousePointer(), Form1::PointerStandard);

        // The ordinary server kept its one connection through it all.
        QCOMPARE(normal.requestedPaths(), (QList<QByteArray>{"/before", "/missing", "/after"}));
        QCOMPARE(normal.connectionsAccepted(), 1);
        // Nothing is asked twice (a redirect to itself is a loop, no retry), and nothing
        // is asked over a connection whose certificate did not verify.
        QList<QByteArray> expectedHostilePaths;
        if (kind == Kind::Plain)
            expectedHostilePaths << "/hostile";
        if (!tls)
            expectedHostilePaths << "/fine";
        QCOMPARE(hostile->requestedPaths(), expectedHostilePaths);

        // A server cannot make the program take in more than it means to.
        const qint64 bodyTaken = transfer->bodyBytes.value(hostileAddress);
        QVERIFY2(bodyTaken <= Policy::BodyLimit, qPrintable(QString::number(bodyTaken)));
        QVERIFY2(hostile->bytesSent() < SentLimit, qPrintable(QString::number(hostile->bytesSent())));
        if (reply.generatedBodyBytes > 0)
            qInfo("offered %lld bytes, sent %lld, body taken in %lld", reply.generatedBodyBytes, hostile->bytesSent(),
                  bodyTaken);
        if (valid && reply.generatedBodyBytes > 0)
            QVERIFY(bodyTaken > 0);

        // One time-out at most, and the window live throughout.
        const qint64 pauses = qint64(pause.toDouble() * 1000) * urls.size();
        QVERIFY2(elapsed < HostileTimeout.count() + pauses + 1500, qPrintable(QString::number(elapsed)));
        qInfo("longest stall: %lld ms", stall);
        QVERIFY2(stall < StallLimitMilliseconds, qPrintable(QString::number(stall)));
    }

private:
    QTemporaryDir m_folder;
    std::optional<LoopbackServer::Tls> m_tls;
};

QTEST_MAIN(HostileServersTest)
#include "tst_hostile_servers.moc"
