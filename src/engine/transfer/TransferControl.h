#pragma once

#include <QString>
#include <QByteArrayView>

#include <functional>

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

    // The addresses the coming requests will be for, in order, as a run
    // starts: a control that keeps connections can then keep one for each
    // host still to be asked, and close each host's after its last address.
    // Only a hint: requests for other addresses are served all the same.
    // The addresses come one by one, UTF-8, from `address` (counted from 0),
    // so that a list of a million costs no copy.
    using AddressAt = std::function<QByteArrayView(qsizetype index)>;
    virtual void expectAddresses(qsizetype count, const AddressAt& address)
    {
        Q_UNUSED(count);
        Q_UNUSED(address);
    }
};
