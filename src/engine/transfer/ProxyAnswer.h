#pragma once

#include <QByteArrayView>

// Whether a header block that came back from a proxy in the clear is the
// proxy's own answer for a server it could not reach or would not ask, and
// so no answer of the server's: Squid marks its error pages with
// X-Squid-Error, tinyproxy names itself as the server (an answer it passes on
// keeps the server's own name), and a proxy that follows RFC 9209 gives an
// error in Proxy-Status.
bool isProxysOwnAnswer(QByteArrayView headerBlock);
