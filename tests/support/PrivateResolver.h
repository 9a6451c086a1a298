#pragma once

#include <QHostAddress>

#include <optional>

// The application QTEST_MAIN would make: a window test's has widgets.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
using PrivateResolverTestApplication = QApplication;
#else
#include <QCoreApplication>
using PrivateResolverTestApplication = QCoreApplication;
#endif

// Name lookups that stay on this machine: the test program runs again in a
// private mount namespace (as root, with unshare) whose /etc/resolv.conf
// names one loopback address as its only nameserver. Nothing answers there
// unless a test listens: a name not in /etc/hosts then fails at once, and
// with a test's silent socket on the nameserver's port 53 its lookup never
// ends.
namespace PrivateResolver {

// First thing in main(): outside the namespace, runs the program inside it
// and gives its exit code; inside, or where no namespace can be made, gives
// nothing and the tests go on.
std::optional<int> runInside(int argc, char** argv);

// The nameserver's address inside the namespace; null outside it.
QHostAddress nameserver();

}  // namespace PrivateResolver

// For a test function: skips where the namespace could not be made.
#define REQUIRE_PRIVATE_RESOLVER()                                                       \
    do {                                                                                 \
        if (PrivateResolver::nameserver().isNull())                                      \
            QSKIP("a private resolver needs root and the unshare command (util-linux)"); \
    } while (false)

// QTEST_MAIN for a test that runs inside the private namespace.
#define QTEST_MAIN_WITH_PRIVATE_RESOLVER(TestObject)                                    \
    int main(int argc, char** argv)                                                     \
    {                                                                                   \
        if (const std::optional<int> exitCode = PrivateResolver::runInside(argc, argv)) \
            return *exitCode;                                                           \
        PrivateResolverTestApplication app(argc, argv);                                 \
        TestObject test;                                                                \
        return QTest::qExec(&test, argc, argv);                                         \
    }
