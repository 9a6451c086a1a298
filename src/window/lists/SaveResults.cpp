#include "engine/lists/ListFormat.h"
#include "window/lists/ListFiles.h"

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "window/app/Globals.h"
#include "engine/lists/FileChannel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
const QString SaveTitle = QStringLiteral("Save");
constexpr qint64 EventPumpMilliseconds = 10;

// Lets pending window events run before the first line and then again once a
// few milliseconds have passed: often enough for the window to stay live,
// without a pass of the event loop for every line of a long list. Even the
// clock is read only every few lines, as a line takes well under a
// microsecond to write.
class ThrottledEventPump {
public:
    void letPendingEventsRun()
    {
        if (m_calls++ % LinesPerClockReading != 0)
            return;
        if (m_sinceLast.isValid() && !m_sinceLast.hasExpired(EventPumpMilliseconds))
            return;
        QCoreApplication::processEvents();
        m_sinceLast.start();
    }

private:
    static constexpr unsigned LinesPerClockReading = 64;
    QElapsedTimer m_sinceLast;
    unsigned m_calls = 0;
};

// Both save buttons: the same operation on their own list. The step numbers
// are the ones the error report shows.
void saveResults(Form1& form, ListView& list, const QString& handler)
{
    Platform& platform = form.platform();
    StepTrap trap(platform.dialogs, ErrorReport::Form1Location + handler + u' ');
    CommonDialog& dialog = platform.commonDialog;
    FileChannel& channel = form.fileChannel;

    trap.step(106, [&] { dialog.setFileName({}); });
    trap.step(108, [&] { dialog.setFlags(ListFiles::DialogFlags); });
    trap.step(110, [&] { dialog.setDialogTitle(SaveTitle); });
    trap.step(112, [&] { dialog.setFilter(ListFiles::DialogFilter); });
    trap.step(114, [&] { dialog.showSave(); });
    QString name;
    trap.step(116, [&] { name = dialog.fileName(); });
    if (!trap.opens(118, [&] { return !name.isEmpty(); }))
        return;

    Dialogs::Answer answer = Dialogs::Answer::No;
    if (trap.opens(120, [&] { return Globals::FileExists(name); })) {
        trap.step(122, [&] {
            answer = platform.dialogs.messageBox(QStringLiteral("Are you sure you wish to overwrite ") + name
                                                     + QStringLiteral(" ?"),
                                                 Dialogs::Buttons::YesNo);
        });
    } else {
        trap.step(124, [&] { answer = Dialogs::Answer::Yes; });
    }
    if (!trap.opens(126, [&] { return answer == Dialogs::Answer::Yes; }))
        return;

    trap.step(128, [&] { form.setMousePointer(Form1::PointerBusy); });
    // The first failure of the open or of a write ends the save: one report,
    // not one per remaining line. An open that failed holds no channel, which
    // may be another save's, so there is nothing to close.
    if (trap.step(130, [&] { channel.openForWriting(name); })) {
        ThrottledEventPump pump;
        trap.forEach(
            132, [&] { return list.count(); }, 138,
            [&](int position) {
            trap.step(134, [&] { pump.letPendingEventsRun(); });
            // The result lists can be cleared while events run: only the
            // items still there are written.
            if (position > list.count())
                return false;
            return trap.step(136, [&] { ListFormat::writeLine(channel, list.items().utf8(position - 1)); });
            });
        trap.step(140, [&] { channel.close(); });
    }
    trap.step(142, [&] { form.setMousePointer(Form1::PointerStandard); });
}
}  // namespace

void Form1::PushButton6_Click() { saveResults(*this, *ListView2, QStringLiteral("PushButton6_Click")); }

void Form1::PushButton1_Click() { saveResults(*this, *ListView3, QStringLiteral("PushButton1_Click")); }
