// Where an address goes, by the rules every host-keyed part of the program
// shares: the host key under each spelling of one host, and the chain of
// redirects an address leads along.
#include "engine/address/HostKey.h"
#include "engine/transfer/RedirectChain.h"

#include <QTest>

class AddressTest : public QObject {
    Q_OBJECT
private slots:
    // One host is one host however the address spells it: each row's host,
    // origin and request key.
    void oneHostUnderEverySpelling_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<QByteArray>("requestKey");
        const auto row = [](const char* name, const char* address, const char* host, const char* origin, const char* key) {
            QTest::newRow(name) << QByteArray(address) << QByteArray(host) << QByteArray(origin) << QByteArray(key);
        };
        row("plain", "http://a.localhost/x", "a.localhost", "http://a.localhost:80", "http://a.localhost/x");
        row("capitals", "HTTPS://A.LOCALHOST/x", "a.localhost", "https://a.localhost:443", "https://a.localhost/x");
        // One host to take turns with, but another name to look up.
        row("trailing dot", "http://a.localhost./x", "a.localhost", "http://a.localhost:80", "http://a.localhost./x");
        row("default port written", "http://a.localhost:80/x", "a.localhost", "http://a.localhost:80", "http://a.localhost/x");
        row("default port with zeros", "https://a.localhost:0443/", "a.localhost", "https://a.localhost:443",
            "https://a.localhost/");
        row("another port", "http://Host:81/", "host", "http://host:81", "http://host:81/");
        row("user and password", "http://me:pw@Host/p", "host", "http://host:80", "http://me:pw@host/p");
        row("fragment", "http://a.localhost/x?q=1#part", "a.localhost", "http://a.localhost:80", "http://a.localhost/x?q=1");
        row("query, no path", "http://a.localhost?q", "a.localhost", "http://a.localhost:80", "http://a.localhost/?q");
        row("label starting with a digit", "http://1a.localhost/", "1a.localhost", "http://1a.localhost:80",
            "http://1a.localhost/");
        row("another script", "http://bücher.localhost/", "xn--bcher-kva.localhost",
            "http://xn--bcher-kva.localhost:80", "http://xn--bcher-kva.localhost/");
        row("its ASCII form", "http://xn--bcher-kva.localhost/", "xn--bcher-kva.localhost",
            "http://xn--bcher-kva.localhost:80", "http://xn--bcher-kva.localhost/");
        row("fullwidth letters", "http://ｌｏｃａｌｈｏｓｔ/", "localhost", "http://localhost:80", "http://localhost/");
        row("ideographic full stops", "http://127。0。0。1/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("IPv4, short", "http://127.1/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("IPv4, hexadecimal", "http://0x7f.0.0.1/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("IPv4, octal", "http://0177.0.0.1/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("IPv4, one number", "http://2130706433/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("IPv4, written in %XX", "http://%31%32%37.1/", "127.0.0.1", "http://127.0.0.1:80", "http://127.0.0.1/");
        row("a path as written", "http://a.localhost:8080/b/../c", "a.localhost", "http://a.localhost:8080",
            "http://a.localhost:8080/b/../c");
        row("IPv6", "http://[::1]:8080/", "[::1]", "http://[::1]:8080", "http://[::1]:8080/");
        row("IPv6, zeros written", "http://[0:0::1]/", "[::1]", "http://[::1]:80", "http://[::1]/");
        row("IPv6 with a zone", "http://[fe80::1%25eth0]/", "[fe80::1]", "http://[fe80::1]:80", "http://[fe80::1%25eth0]/");
        row("IPv4-mapped IPv6", "http://[::ffff:7f00:1]/", "[::ffff:127.0.0.1]", "http://[::ffff:127.0.0.1]:80",
            "http://[::ffff:127.0.0.1]/");
        row("IPv4-mapped IPv6, capitals", "http://[::FFFF:127.0.0.1]/", "[::ffff:127.0.0.1]",
            "http://[::ffff:127.0.0.1]:80", "http://[::ffff:127.0.0.1]/");
        row("another scheme", "ftp://a/x", "", "ftp://a/x", "ftp://a/x");
        row("no host", "http://", "", "http://", "http://");
        row("port out of range", "http://a:65536/", "", "http://a:65536/", "http://a:65536/");
    }
    void oneHostUnderEverySpelling()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, origin);
        QFETCH(QByteArray, requestKey);
        QCOMPARE(HostKey::hostOf(address), host);
        QCOMPARE(HostKey::originOf(address), origin);
        QCOMPARE(HostKey::requestKey(address), requestKey);
    }

    // Each answer in turn to where the chain leads: "code Location" for a
    // redirect, a code alone for an answer without one. The chain's last step,
    // the address it asks last, its hops and why it stopped.
    void redirectsLeadOn_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArrayList>("answers");
        QTest::addColumn<RedirectChain::Step>("last");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<int>("hops");
        QTest::addColumn<bool>("permanent");
        QTest::addColumn<QString>("reason");
        using Step = RedirectChain::Step;
        const QByteArray a = "http://a.localhost/dir/x";
        const auto row = [&](const char* name, QByteArrayList answers, Step last, const char* asked, int hops,
                             bool permanent = false, const char* reason = "", int limit = 10) {
            QTest::newRow(name) << a << limit << answers << last << QByteArray(asked) << hops << permanent
                                << QString::fromUtf8(reason);
        };
        row("no redirect", {"200"}, Step::Final, "http://a.localhost/dir/x", 0);
        row("absolute path", {"302 /b", "200"}, Step::Final, "http://a.localhost/b", 1);
        row("relative path", {"302 b?q=1", "404"}, Step::Final, "http://a.localhost/dir/b?q=1", 1);
        row("another host, scheme-relative", {"302 //b.localhost/p", "200"}, Step::Final, "http://b.localhost/p", 1);
        row("to https", {"301 https://a.localhost/dir/x", "200"}, Step::Final, "https://a.localhost/dir/x", 1, true);
        row("303 and 307 lead on", {"303 /1", "307 /2", "200"}, Step::Final, "http://a.localhost/2", 2);
        row("308 is permanent", {"308 /1", "302 /2", "200"}, Step::Final, "http://a.localhost/2", 2, true);
        row("300 is an answer", {"300 /1"}, Step::Final, "http://a.localhost/dir/x", 0);
        row("304 is an answer", {"304 /1"}, Step::Final, "http://a.localhost/dir/x", 0);
        row("no Location", {"302"}, Step::Final, "http://a.localhost/dir/x", 0);
        row("a space and UTF-8 in the path", {"302 /a b/café"}, Step::Follow, "http://a.localhost/a%20b/caf%c3%a9", 1);
        row("back to the first", {"302 /b", "302 /dir/x"}, Step::Stopped, "http://a.localhost/b", 1, false, "redirect loop");
        row("back to itself", {"301 x"}, Step::Stopped, "http://a.localhost/dir/x", 0, false, "redirect loop");
        row("to a fragment of itself", {"301 #part"}, Step::Stopped, "http://a.localhost/dir/x", 0, false, "redirect loop");
        row("back under another spelling", {"302 http://A.LOCALHOST:80/dir/x#top"}, Step::Stopped,
            "http://a.localhost/dir/x", 0, false, "redirect loop");
        row("as many as the limit", {"302 /1", "302 /2", "200"}, Step::Final, "http://a.localhost/2", 2, false, "", 2);
        row("more than the limit", {"302 /1", "302 /2", "302 /3"}, Step::Stopped, "http://a.localhost/2", 2, false,
            "more than 2 redirects", 2);
        row("none followed", {"301 /1"}, Step::Final, "http://a.localhost/dir/x", 0, false, "", 0);
        row("to another scheme", {"302 ftp://a.localhost/f"}, Step::Stopped, "http://a.localhost/dir/x", 0, false,
            "redirect to another scheme (ftp)");
        row("to mail", {"302 mailto:me@a.localhost"}, Step::Stopped, "http://a.localhost/dir/x", 0, false,
            "redirect to another scheme (mailto)");
        row("to nothing usable", {"302 http://[oops/"}, Step::Stopped, "http://a.localhost/dir/x", 0, false,
            "redirect to an address that cannot be used");
    }
    void redirectsLeadOn()
    {
        QFETCH(QByteArray, address);
        QFETCH(int, limit);
        QFETCH(QByteArrayList, answers);
        QFETCH(RedirectChain::Step, last);
        QFETCH(QByteArray, asked);
        QFETCH(int, hops);
        QFETCH(bool, permanent);
        QFETCH(QString, reason);
        RedirectChain chain(address, limit);
        RedirectChain::Step step = RedirectChain::Step::Follow;
        for (const QByteArray& answer : answers) {
            QCOMPARE(step, RedirectChain::Step::Follow);
            const qsizetype blank = answer.indexOf(' ');
            step = chain.after(answer.left(blank).toInt(), blank < 0 ? QByteArray() : answer.mid(blank + 1));
        }
        QCOMPARE(step, last);
        QCOMPARE(chain.next().toLower(), asked.toLower());
        QCOMPARE(chain.hops(), hops);
        QCOMPARE(chain.permanent(), permanent);
        QCOMPARE(chain.stopReason(), reason);
    }
};

QTEST_GUILESS_MAIN(AddressTest)
#include "tst_address.moc"
