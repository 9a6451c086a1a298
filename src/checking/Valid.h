#pragma once

#include "platform/Dialogs.h"
#include "platform/InternetLayer.h"
#include "platform/TransferControl.h"

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

// The three-digit status code a status text starts with, followed by its end
// or a blank ("404", "200 OK"), or -1.
int StatusCodeOf(const QString& statusText);

// The verdict on a status text, true meaning valid: one that starts with a
// status code is valid unless the code is 404; any other is valid when it is
// longer than 4 characters and does not say "404 not found" in any case. No
// response, and so an empty status text, is not valid. The window's probe
// and the command line judge by this rule alone.
bool IsValidStatusText(const QString& statusText);
// Its two halves, as the window's verdict steps take them: what makes a
// status text valid at first sight, and what then makes it not found.
bool LooksValid(const QString& statusText);
bool SaysNotFound(const QString& statusText);

// The status line of a response's header block: everything before the first
// carriage return at or after its 10th character. Raises Failure when there
// is none.
QString StatusLineOf(const QString& headers);
// The status line less "HTTP/1.1 ", its first 9 characters. Raises Failure
// for a shorter line.
QString StatusTextOf(const QString& statusLine);

}
