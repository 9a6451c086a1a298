#pragma once

#include "engine/lists/FileChannel.h"
#include "window/app/ErrorReport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class Dialogs;
class ListView;

// Loading and saving URL list files through the file dialog, which is set
// up the same way for both (the format itself is ListFormat's).
namespace ListFiles {
// Read-only box ticked, several files at once, explorer look, long names. It
// holds no overwrite prompt: saving asks the question itself.
inline constexpr int DialogFlags = 0x280201;
inline const QString DialogFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
}

namespace FileToListview1 {
inline const QString FileNotFound = QStringLiteral("File not found");

// Appends the items of the text file at the path to the end of the list:
// lines end at CR LF, CR or LF, each line is one item, empty ones too, and the
// line end that closes the file gives no further item. A missing file shows
// "File not found" and adds nothing. Traps nothing: a file that cannot be
// opened or read, or a channel that is taken, fails the caller's step.
void LoadFileIntoList(ListView& list, const QString& path, Dialogs& dialogs, FileChannel& channel);
}
