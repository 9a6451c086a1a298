#include "engine/lists/ListFormat.h"
#include "window/lists/ListFiles.h"

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "window/app/Globals.h"
#include "window/app/Main.h"
#include "engine/lists/FileChannel.h"


namespace {
const QString LoadTitle = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
const QString TooManyFiles = QStringLiteral("You've selected too many files to add.");

// Shows the open dialog; false when the chosen names do not fit its buffer,
// the one failure that the load answers with a message of its own.
bool chosenNamesFit(CommonDialog& dialog)
{
    try {
        dialog.showOpen();
        return true;
    } catch (const Failure& failure) {
        if (failure.code() != Failure::BufferTooSmall)
            throw;
        return false;
    }
}

// The returned name cut at every NUL, empty pieces kept; Cancel gives none.
QStringList piecesOf(const QString& returnedName)
{
    if (returnedName.isEmpty())
        return {};
    return returnedName.split(QChar(u'\0'), Qt::KeepEmptyParts);
}

const QString& pieceAt(const QStringList& pieces, qsizetype index)
{
    if (index < 0 || index >= pieces.size())
        throw Failure(QStringLiteral("Subscript out of range"));
    return pieces[index];
}
}  // namespace

void FileToListview1::LoadFileIntoList(ListView& list, const QString& path, Dialogs& dialogs, FileChannel& channel)
{
    if (!Globals::FileExists(path)) {
        dialogs.messageBox(FileNotFound);
        return;
    }
    const QByteArray text = ListFormat::utf8TextOf(channel.readAll(path));

    // Room for exactly what is coming, so a big file costs its bytes once
    // more and no regrowth on the way.
    qsizetype items = 0;
    qsizetype bytes = 0;
    ListFormat::forEachLine(text, [&](QByteArrayView piece) {
        ++items;
        bytes += piece.size();
    });
    list.reserve(items, bytes);
    ListFormat::forEachLine(text, [&](QByteArrayView piece) { list.addUtf8(piece); });
}

// The step numbers are the ones the error report shows.
void Form1::PushButton3_Click()
{
    StepTrap trap(m_platform.dialogs, ErrorReport::Form1Location + QStringLiteral("PushButton3_Click "));
    CommonDialog& dialog = m_platform.commonDialog;
    auto load = [&](const QString& path) {
        FileToListview1::LoadFileIntoList(*ListView1, path, m_platform.dialogs, fileChannel);
    };

    trap.step(100, [&] { dialog.setFileName({}); });
    trap.step(102, [&] { dialog.setFlags(ListFiles::DialogFlags); });
    trap.step(104, [&] { dialog.setDialogTitle(LoadTitle); });
    trap.step(106, [&] { dialog.setFilter(ListFiles::DialogFilter); });
    bool namesFit = true;
    trap.step(108, [&] { namesFit = chosenNamesFit(dialog); });
    if (!namesFit) {
        m_platform.dialogs.messageBox(TooManyFiles);
        return;
    }
    QStringList pieces;
    trap.step(110, [&] { pieces = piecesOf(dialog.fileName()); });
    trap.step(112, [&] { setMousePointer(PointerBusy); });

    if (trap.opens(114, [&] { return pieces.size() == 1; })) {
        // One file: its full path as the dialog returned it.
        QString path;
        trap.step(116, [&] { path = pieceAt(pieces, 0); });
        trap.step(118, [&] { load(path); });
    } else if (!trap.opens(120, [&] { return pieces.isEmpty(); })) {
        // Several files: the folder first, then the bare names.
        qsizetype last = 0;
        qsizetype index = 0;
        trap.step(122, [&] { last = pieces.size() - 1; });
        trap.step(124, [&] { index = 1; });
        trap.loop(
            126, [&] { return index <= last; }, 134, [&] { return ++index <= last; },
            [&] {
            QString path;
            trap.step(128, [&] { path = pieceAt(pieces, 0) + Globals::PathSeparator + pieceAt(pieces, index); });
            trap.step(130, [&] { path = Main::TidyPath(path); });
            trap.step(132, [&] { load(path); });
            });
    }
    trap.step(136, [&] { setMousePointer(PointerStandard); });
}
