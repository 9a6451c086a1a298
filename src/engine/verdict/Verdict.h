#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The verdict on an answer, from its header block alone: the same rule for
// the window's probe and for the command line.
namespace Valid {

// The three-digit status code a status text starts with, followed by its end
// or a blank ("404", "200 OK"), or -1.
int StatusCodeOf(const QString& statusText);

// The verdict on a status text, true meaning valid: one that starts with a
// status code is valid unless the code is 404; any other is valid when it is
// longer than 4 characters and does not say "404 not found" in any case. No
// response, and so an empty status text, is not valid.
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

// Reading a header block as it was received, status line first.
namespace HeaderBlock {
// The status code on its status line ("HTTP/1.1 100 Continue" gives 100), or 0.
int statusCode(QByteArrayView block);
// The value of each header line of this name (any case, without the colon),
// trimmed, in order.
QList<QByteArray> values(QByteArrayView block, QByteArrayView name);
}
