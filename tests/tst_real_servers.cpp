// Verdicts on what real server software answers, nginx and lighttpd over
// plain HTTP and TLS through an intermediate CA, directly and through
// tinyproxy and squid named by the proxy environment variables.
#include "BatchRunning.h"
#include "LoopbackServer.h"
#include "PrivateResolver.h"
#include "RealServers.h"
#include "WindowTesting.h"
#include "window/checking/Valid.h"
#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "engine/Failure.h"

#include <QTest>

#include <map>

using namespace std::chrono_literals;

namespace {

enum class Server { Nginx, NginxTls, NginxTlsWithoutIntermediate, Lighttpd, LighttpdTls };
enum class Proxy { Tinyproxy, Squid };

// The proxy variables for one test, and none of the machine's.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::map<QByteArray, QString>& variables)
    {
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                                 "no_proxy", "NO_PROXY"}) {
            if (qEnvironmentVariableIsSet(name))
                m_saved.emplace(name, qgetenv(name));
            qunsetenv(name);
        }
        for (const auto& [name, value] : variables)
            qputenv(name.constData(), value.toUtf8());
        m_set = variables;
    }
    ~ProxyEnvironment()
    {
        for (const auto& [name, value] : m_set)
            qunsetenv(name.constData());
        for (const auto& [name, value] : m_saved)
            qputenv(name.constData(), value);
    }

private:
    std::map<QByteArray, QByteArray> m_saved;
    std::map<QByteArray, QString> m_set;
};

struct Judgement {
    bool valid = false;
    QString headers;  // empty: no response
    int boxes = 0;
};

}  // namespace

class RealServersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_chain = CertificateChain::make(m_folder.path());
        QVERIFY2(m_chain, "the openssl command made no certificate chain");
        m_servers.emplace(Server::Nginx, std::make_unique<Nginx>());
        m_servers.emplace(Server::NginxTls, std::make_unique<Nginx>(&*m_chain));
        m_servers.emplace(Server::NginxTlsWithoutIntermediate, std::make_unique<Nginx>(&*m_chain, false));
        m_servers.emplace(Server::Lighttpd, std::make_unique<Lighttpd>());
        m_servers.emplace(Server::LighttpdTls, std::make_unique<Lighttpd>(&*m_chain));
    }

    // A server that compresses for a client that says it can take it: the
    // request says so, and takes the body as it comes, never decoded.
    void bodiesComeCompressed_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("compressed");
        QTest::newRow("a page nginx compresses") << "/compressed" << true;
        QTest::newRow("one it does not") << "/large" << false;
    }
    void bodiesComeCompressed()
    {
        QFETCH(QString, path);
        QFETCH(bool, compressed);
        WebServer& nginx = *m_servers.at(Server::Nginx);
        REQUIRE_RUNNING(nginx);
        LaneBatch batch{QString()};
        CurlRequest request({30s, false, {}});
        request.prepare(nginx.url(path));
        batch.add(request);
        runUntilNoneRunning(batch, 30s);
        QVERIFY(request.haveResponse());
        QCOMPARE(request.headers().contains("Content-Encoding: gzip"), compressed);
        if (compressed)
            QCOMPARE_LT(request.bodyBytes(), WebServer::LargePageBytes / 20);
        else
            QCOMPARE(request.bodyBytes(), WebServer::LargePageBytes);
    }

    void verdictsOnRealServers_data()
    {
        QTest::addColumn<Server>("server");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("valid");
        const std::pair<const char*, Server> servers[] = {{"nginx", Server::Nginx},
                                                          {"nginx TLS", Server::NginxTls},
                                                          {"lighttpd", Server::Lighttpd},
                                                          {"lighttpd TLS", Server::LighttpdTls}};
        for (const auto& [name, server] : servers) {
            const auto row = [&](const char* what) -> QTestData& {
                return QTest::addRow("%s, %s", name, what) << server;
            };
            row("200 page") << "/page" << true;
            row("404 missing") << "/missing" << false;
            row("301 redirect") << "/moved" << true;
            if (server == Server::Nginx || server == Server::NginxTls) {
                row("301 to a 404") << "/moved-to-missing" << false;
                // The test certificate names 127.0.0.1 alone.
                if (server == Server::Nginx)
                    row("302 to another host name") << "/found-elsewhere" << true;
                row("a redirect loop") << "/loop" << false;
            }
        }
        // The client cannot build the chain to the trusted root.
        QTest::newRow("nginx TLS without the intermediate") << Server::NginxTlsWithoutIntermediate << "/page" << false;
    }
    void verdictsOnRealServers()
    {
        QFETCH(Server, server);
        QFETCH(QString, path);
        QFETCH(bool, valid);
        WebServer& web = *m_servers.at(server);
        REQUIRE_RUNNING(web);
        const ProxyEnvironment none({});
        const Judgement judgement = judge(web.url(path));
        QCOMPARE(judgement.valid, valid);
        QCOMPARE(judgement.boxes, 0);
    }

    void proxiesAnswerOnlyForTheServer_data()
    {
        QTest::addColumn<Proxy>("proxy");
        QTest::addColumn<QString>("address");  // {plain} the plain port, {tls} the TLS one, {refused} a refused one
        QTest::addColumn<bool>("valid");
        for (const auto& [name, proxy] : {std::pair{"tinyproxy", Proxy::Tinyproxy}, std::pair{"squid", Proxy::Squid}}) {
            const auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s", name, what) << proxy; };
            row("200 page") << "http://127.0.0.1:{plain}/page" << true;
            row("404 missing") << "http://127.0.0.1:{plain}/missing" << false;
            row("the server's own 500") << "http://127.0.0.1:{plain}/error" << true;
            row("the server's own 502") << "http://127.0.0.1:{plain}/bad-gateway" << true;
            row("the server's own 503") << "http://127.0.0.1:{plain}/unavailable" << true;
            row("server refuses the proxy") << "http://127.0.0.1:{refused}/" << false;
            row("no such host") << "http://no-such-host.invalid/" << false;
            row("https page, tunnelled") << "https://127.0.0.1:{tls}/page" << true;
            row("https 500, tunnelled") << "https://127.0.0.1:{tls}/error" << true;
            row("https, server refuses the proxy") << "https://127.0.0.1:{refused}/" << false;
            row("https, no such host") << "https://no-such-host.invalid/" << false;
        }
    }
    void proxiesAnswerOnlyForTheServer()
    {
        QFETCH(Proxy, proxy);
        QFETCH(QString, address);
        QFETCH(bool, valid);
        if (address.contains(u".invalid"))
            REQUIRE_PRIVATE_RESOLVER();  // the lookup must not leave this machine
        ForwardProxy& forward = proxyFor(proxy);
        REQUIRE_RUNNING(forward);
        REQUIRE_RUNNING(*m_servers.at(Server::Nginx));
        REQUIRE_RUNNING(*m_servers.at(Server::NginxTls));
        const ProxyEnvironment environment({{"http_proxy", forward.proxyUrl()}, {"https_proxy", forward.proxyUrl()}});

        address.replace(QStringLiteral("{plain}"), QString::number(m_servers.at(Server::Nginx)->port()));
        address.replace(QStringLiteral("{tls}"), QString::number(m_servers.at(Server::NginxTls)->port()));
        address.replace(QStringLiteral("{refused}"), QString::number(LoopbackServer::refusedPort()));
        const Judgement judgement = judge(address);
        QVERIFY2(judgement.valid == valid, qPrintable(judgement.headers));
        QCOMPARE(judgement.boxes, 0);
        // Plain requests went through the proxy, which says so.
        if (address.startsWith(u"http:") && !judgement.headers.isEmpty())
            QVERIFY2(judgement.headers.contains(u"\r\nVia: "), qPrintable(judgement.headers));
    }

    // One transfer control through the proxy for a list that takes turns
    // between two servers: each address is answered by its own server, even
    // where the proxy relays a kept connection to the first one it reached.
    void eachAddressReachesItsOwnServerThroughAProxy_data()
    {
        QTest::addColumn<Proxy>("proxy");
        QTest::newRow("tinyproxy") << Proxy::Tinyproxy;
        QTest::newRow("squid") << Proxy::Squid;
    }
    void eachAddressReachesItsOwnServerThroughAProxy()
    {
        QFETCH(Proxy, proxy);
        ForwardProxy& forward = proxyFor(proxy);
        REQUIRE_RUNNING(forward);
        WebServer& nginx = *m_servers.at(Server::Nginx);
        WebServer& lighttpd = *m_servers.at(Server::Lighttpd);
        REQUIRE_RUNNING(nginx);
        REQUIRE_RUNNING(lighttpd);
        const ProxyEnvironment environment({{"http_proxy", forward.proxyUrl()}});
        TestPlatform test;
        QtLoopTransfer transfer({10000ms, true, {}});
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        // Only nginx has /error (a 500, valid); lighttpd says 404. A reply
        // with an empty body is one that tinyproxy goes on relaying after.
        LoopbackServer empty;
        empty.setFallback(LoopbackServer::answer("HTTP/1.1 204 No Content"));
        const QList<std::pair<QString, bool>> list{{nginx.url("/page"), true}, {lighttpd.url("/error"), false},
                                                   {empty.url("/"), true},     {lighttpd.url("/error"), false},
                                                   {empty.url("/"), true},     {nginx.url("/error"), true}};
        for (const auto& [address, valid] : list)
            QVERIFY2(Valid::IsURLValid(probe, address, 0) == valid, qPrintable(address));
        QCOMPARE(test.dialogs.shown.size(), 0);
    }

    // curl reads the lower-case http_proxy alone (the upper-case name can be
    // set by a web server for a CGI program); no_proxy names what goes direct.
    void proxyVariables_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QByteArray>("noProxyVariable");
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<bool>("valid");
        QTest::newRow("http_proxy") << QByteArray("http_proxy") << QByteArray() << QString() << false;
        QTest::newRow("HTTP_PROXY is not read") << QByteArray("HTTP_PROXY") << QByteArray() << QString() << true;
        QTest::newRow("all_proxy") << QByteArray("all_proxy") << QByteArray() << QString() << false;
        QTest::newRow("no_proxy names the host")
            << QByteArray("http_proxy") << QByteArray("no_proxy") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("NO_PROXY names the host")
            << QByteArray("http_proxy") << QByteArray("NO_PROXY") << QStringLiteral("127.0.0.1") << true;
        QTest::newRow("no_proxy names another host")
            << QByteArray("http_proxy") << QByteArray("no_proxy") << QStringLiteral("localhost") << false;
    }
    void proxyVariables()
    {
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, noProxyVariable);
        QFETCH(QString, noProxy);
        QFETCH(bool, valid);
        WebServer& web = *m_servers.at(Server::Nginx);
        REQUIRE_RUNNING(web);
        // A proxy that nobody can reach: an address judged valid went direct.
        std::map<QByteArray, QString> variables{
            {variable, QStringLiteral("http://127.0.0.1:%1").arg(LoopbackServer::refusedPort())}};
        if (!noProxyVariable.isEmpty())
            variables.emplace(noProxyVariable, noProxy);
        const ProxyEnvironment environment(variables);
        QCOMPARE(judge(web.url("/page")).valid, valid);
    }

private:
    // The verdict through the window's probe, the header block it read and
    // the boxes it showed.
    Judgement judge(const QString& address)
    {
        TestPlatform test;
        QtLoopTransfer transfer({10000ms, true, m_chain->rootFile});
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        Judgement judgement;
        judgement.valid = Valid::IsURLValid(probe, address, 0);
        try {
            judgement.headers = transfer.responseHeaders();
        } catch (const Failure&) {
        }
        judgement.boxes = static_cast<int>(test.dialogs.shown.size());
        return judgement;
    }

    ForwardProxy& proxyFor(Proxy proxy)
    {
        // Started when first asked for: squid takes a moment.
        if (proxy == Proxy::Tinyproxy) {
            if (!m_tinyproxy)
                m_tinyproxy = std::make_unique<Tinyproxy>();
            return *m_tinyproxy;
        }
        if (!m_squid)
            m_squid = std::make_unique<Squid>();
        return *m_squid;
    }

    QTemporaryDir m_folder;
    std::optional<CertificateChain> m_chain;
    std::map<Server, std::unique_ptr<WebServer>> m_servers;
    std::unique_ptr<Tinyproxy> m_tinyproxy;
    std::unique_ptr<Squid> m_squid;
};

QTEST_MAIN_WITH_PRIVATE_RESOLVER(RealServersTest)
#include "tst_real_servers.moc"
