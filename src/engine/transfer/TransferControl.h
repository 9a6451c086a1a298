#pragma once

#include <QString>

// The HTTP transfer control of the main window: one request at a time, and
// the header block of the response it got.
class TransferControl {
public:
    virtual ~TransferControl() = default;

    // Sends a request for the address as given and waits, letting window
    // events through, until the header block of the final response has
    // arrived, the transfer has ended or the time-out has passed. The previous
    // response is discarded first. Network outcomes (no such host, refused,
    // reset, time-out) leave no response; only an address the control cannot
    // use raises Failure.
    virtual void request(const QString& address) = 0;

    // The header block of the last response exactly as received, status line
    // first, CR LF line ends. Raises Failure when there is none.
    virtual QString responseHeaders() = 0;
};
