#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "window/checking/PauseText.h"
#include "window/checking/Valid.h"

#include <QLineEdit>

#include <optional>

namespace {
const QString& Location = ErrorReport::Form1Location;
}

// The step numbers are the ones the error report shows.
void Form1::PushButton4_Click()
{
    StepTrap trap(m_platform.dialogs, Location + QStringLiteral("PushButton4_Click "));
    const Valid::Probe probe{m_platform.dialogs, m_platform.internet, *Inet1};

    bool alreadyRunning = false;
    trap.step(100, [&] { alreadyRunning = m_running; });
    if (alreadyRunning)
        return;
    trap.step(102, [&] { m_running = true; });
    if (trap.opens(104, [&] { return ListView1->count() > 0; })) {
        if (trap.opens(106, [&] { return PauseSecondsOf(Text1->text()).has_value(); })) {
            // The run starts: the pointer says so, and the transfer control
            // learns which hosts the run will ask, to keep their connections.
            trap.step(108, [&] {
                setMousePointer(PointerBusy);
                const ItemStore& list = ListView1->items();
                Inet1->expectAddresses(list.size(), [&](qsizetype index) { return list.utf8(index); });
            });
            trap.forEach(
                110, [&] { return ListView1->count(); }, 120,
                [&](int index) {
                std::optional<QString> address;
                // A list that shrank during the run has nothing at this index.
                trap.step(112, [&] {
                    if (index <= ListView1->count())
                        address = ListView1->text(index);
                });
                if (!address)
                    return;
                bool valid = false;
                // The pause is read afresh for every address; a text that is no
                // longer a number means no pause.
                const bool judged = trap.step(114, [&] {
                    valid = Valid::IsURLValid(probe, *address, PauseSecondsOf(Text1->text()).value_or(0.0));
                });
                if (judged && valid)
                    trap.step(116, [&] { ListView2->add(*address); });
                else
                    trap.step(118, [&] { ListView3->add(*address); });
                });
            trap.step(122, [&] { setMousePointer(PointerStandard); });
            trap.step(124, [&] { m_platform.dialogs.messageBox(QStringLiteral("Done.")); });
        } else {
            trap.step(126, [&] {
                m_platform.dialogs.messageBox(QStringLiteral("Pause must be a number. For example: 1 or .5 or 0"));
            });
        }
    } else {
        trap.step(128, [&] { m_platform.dialogs.messageBox(QStringLiteral("No URL(s) added.")); });
    }
    trap.step(130, [&] { m_running = false; });
}

void Form1::PushButton12_Click()
{
    StepTrap trap(m_platform.dialogs, Location + QStringLiteral("PushButton12_Click "));
    trap.step(100, [&] {
        m_platform.dialogs.messageBox(QStringLiteral("You can set the pause here to: 0, 1, .5, or 3 etc.")
                                      + QStringLiteral("\r\n\r\n")
                                      + QStringLiteral("The default for this software used to be 0 but some users noticed that some results "
                                                       "were inaccurate so I added this pause to help ensure accuracy."));
    });
}
