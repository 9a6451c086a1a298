#pragma once

#include "platform/FileChannel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class Dialogs;
class ListView;

// The URL list text file: one address per line. The file dialog is set up the
// same way for loading and saving.
namespace ListFiles {
// Read-only box ticked, several files at once, explorer look, long names. It
// holds no overwrite prompt: saving asks the question itself.
inline constexpr int DialogFlags = 0x280201;
inline const QString DialogFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
inline const QString Location = QStringLiteral("in Orrinth2021/08/31.Form1.");

// A file's bytes as UTF-8 text: a leading UTF-8 byte-order mark is dropped;
// bytes that are not valid UTF-8 are read as Windows-1252, the code page the
// lists of other programs are written in.
QByteArray utf8TextOf(QByteArray bytes);
// Windows-1252 text as UTF-8; one byte is one character, so a text may be
// converted in pieces.
QByteArray utf8OfWindows1252(QByteArrayView bytes);

// Every line of a written list ends in CR LF, the last one too.
inline constexpr QByteArrayView LineEnd("\r\n");

inline void writeLine(FileChannel& channel, QByteArrayView utf8)
{
    channel.write(utf8);
    channel.write(LineEnd);
}

// Writes the UTF-8 texts, one line each, as the whole content of the file at
// the path, byte for byte as the save buttons write a list. The file is
// replaced only once every line is out and stays the file it was (see
// FileChannel); a failure raises Failure and leaves it as it was.
template <class Utf8Lines>
void writeListFile(const QString& path, const Utf8Lines& lines)
{
    FileChannel channel;
    channel.openForWriting(path);
    for (const auto& line : lines)
        writeLine(channel, QByteArrayView(line));
    channel.close();
}
}

namespace FileToListview1 {
inline const QString FileNotFound = QStringLiteral("File not found");

// Calls item(piece) for every item of a file's text, in file order, each
// piece a view into the text. Lines end at CR LF (taken together), CR or LF;
// the line end that closes the text gives no further item, so "a\nb\n" is
// two items like "a\r\nb\r\n", and an empty text none.
template <class Item>
void ForEachItem(QByteArrayView utf8Text, Item&& item)
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

// Appends the items of the text file at the path to the end of the list:
// lines end at CR LF, CR or LF, each line is one item, empty ones too, and the
// line end that closes the file gives no further item. A missing file shows
// "File not found" and adds nothing. Traps nothing: a file that cannot be
// opened or read, or a channel that is taken, fails the caller's step.
void LoadFileIntoList(ListView& list, const QString& path, Dialogs& dialogs, FileChannel& channel);
}
