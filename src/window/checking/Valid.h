#pragma once

#include "window/desktop/Dialogs.h"
#include "window/desktop/InternetLayer.h"
#include "engine/transfer/TransferControl.h"
#include "engine/verdict/Verdict.h"

#include <QString>

// Probing one address and judging its response.
namespace Valid {

// What a probe works with: the boxes of its failure reports, the connected
// state and the main window's transfer control.
struct Probe {
    Dialogs& dialogs;
    InternetLayer& internet;
    TransferControl& Inet1;
};

// The verdict for one address, true meaning valid. A status text that starts
// with a three-digit status code is judged by that code (valid unless 404);
// any other by its length and the words "404 not found".
bool IsURLValid(const Probe& probe, const QString& address, double pauseSeconds);

// Requests the address up to `tries` times and gives the status text of the
// last response read: the status line without "HTTP/1.1 ", or empty.
QString CheckURL(const Probe& probe, const QString& address, double pauseSeconds, int tries);

// Whether the transfer control has response headers to read; never fails.
bool HeadersAvailable(TransferControl& Inet1) noexcept;

}
