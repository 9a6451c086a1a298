#pragma once

#include <QByteArrayView>
#include <QString>

// Why a request got no response, as far as asking again goes.
enum class Fault {
    // Something this machine lacked (file descriptors, memory, a local
    // port), not anything the server did: no verdict on the address,
    // which is to be asked again.
    ThisMachine,
    // No answer came, and one may on another try: a time-out, a refused
    // or reset connection, an empty reply, a failed TLS handshake.
    Passing,
    // No answer will come by asking again: no such host, a certificate
    // not trusted, a proxy answering for a server it could not reach.
    Lasting,
    // The server answered, but with nothing that reads as an HTTP
    // response: a header block past every limit, another protocol.
    BadAnswer,
};

// Why a transfer gave no response: the reason in a few words, and what kind
// of fault it is.
struct NoResponse {
    QString reason;
    Fault fault = Fault::Lasting;

    // What curl's result says of a transfer that gave no response. osError is
    // the system's error number where one is known (a socket that could not
    // be made, a connection attempt), message curl's own text for the
    // failure, requestSent whether the request went out before it.
    static NoResponse explain(int curlResult, int osError, QByteArrayView message, bool requestSent);
};
