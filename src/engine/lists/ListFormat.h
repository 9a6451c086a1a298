#pragma once

#include "engine/lists/FileChannel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The URL list text file, one address a line, as both programs read and
// write it.
namespace ListFormat {
// A UTF-8 byte-order mark, dropped before the first address.
inline constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");
// Every line of a written list ends in CR LF, the last one too.
inline constexpr QByteArrayView LineEnd("\r\n");

// A file's bytes as UTF-8 text: a leading byte-order mark is dropped; bytes
// that are not valid UTF-8 are read as Windows-1252, the code page the lists
// of other programs are written in.
QByteArray utf8TextOf(QByteArray bytes);
// Windows-1252 text as UTF-8; one byte is one character, so a text may be
// converted in pieces.
QByteArray utf8OfWindows1252(QByteArrayView bytes);
// The text without a leading byte-order mark.
inline QByteArrayView withoutByteOrderMark(QByteArrayView text)
{
    return text.startsWith(ByteOrderMark) ? text.sliced(ByteOrderMark.size()) : text;
}

// Calls item(piece) for every item of a file's text, in file order, each
// piece a view into the text. Lines end at CR LF (taken together), CR or LF;
// the line end that closes the text gives no further item, so "a\nb\n" is
// two items like "a\r\nb\r\n", and an empty text none.
template <class Item>
void forEachLine(QByteArrayView utf8Text, Item&& item)
{
    const char* const end = utf8Text.data() + utf8Text.size();
    const char* start = utf8Text.data();
    for (const char* at = start; at != end;) {
        const char c = *at;
        if (c != '\r' && c != '\n') {
            ++at;
            continue;
        }
        item(QByteArrayView(start, at - start));
        at += (c == '\r' && at + 1 != end && at[1] == '\n') ? 2 : 1;
        start = at;
    }
    if (start != end)
        item(QByteArrayView(start, end - start));
}

inline void writeLine(FileChannel& channel, QByteArrayView utf8)
{
    channel.write(utf8);
    channel.write(LineEnd);
}
}
