#pragma once

#include "window/desktop/Dialogs.h"
#include "engine/Failure.h"

#include <QString>
#include <QtGlobal>

#include <type_traits>

namespace ErrorReport {
inline const QString SupportAddress = QStringLiteral("support@velmora.example");
inline const QString Title = QStringLiteral("Application Error");

// Where a failure happened, as the box shows it: the fixed text, the module's
// name and a full stop; the procedure's name and a space follow.
inline QString locationIn(const QString& module) { return QStringLiteral("in Orrinth2021/08/31.") + module + u'.'; }
inline const QString Form1Location = locationIn(QStringLiteral("Form1"));

// The text of the box: description, CR LF, location, "at line ", the step
// number, CR CR, and the request to send a screenshot.
QString compose(const QString& location, int step, const QString& description);
}

// Shows the one failure report that every operation uses, and waits for OK.
void ShowErrorReport(Dialogs& dialogs, const QString& location, int step, const QString& description);

// The per-step trap of a procedure that reports its own failures. Each call
// runs one numbered step; when the step fails, the report box shows the
// procedure's location and that number, and the procedure goes on as the
// rules below say, so a call site reads like the numbered step it is:
//
//   trap.step(102, [&] { running = true; });                 // next step runs
//   if (trap.opens(104, [&] { return count() > 0; })) ...    // block runs
//   trap.forEach(110, [&] { return count(); }, 120, [&](int i) { ... });
//
// A callee without a trap of its own fails the calling step; a callee with one
// has reported and carried on, so the caller sees nothing.
class StepTrap {
public:
    StepTrap(Dialogs& dialogs, QString location) : m_dialogs(dialogs), m_location(std::move(location)) {}

    const QString& location() const { return m_location; }

    // An ordinary step: whether it failed or not, the next one runs. Gives
    // whether it completed, for the few callers that go another way after a
    // failure (an address not judged is listed invalid, a save whose file did
    // not open writes no line); its remaining effect is lost, nothing is
    // rolled back.
    template <class Action>
    bool step(int number, Action&& action)
    {
        return guarded(number, [&] { action(); });
    }

    // A test that opens a block: gives the test's value, or true when the test
    // failed, so that the guarded block runs as if the test had held. Write
    // the condition as the one that enters the block that follows.
    template <class Test>
    bool opens(int number, Test&& test)
    {
        bool holds = true;
        guarded(number, [&] { holds = test(); });
        return holds;
    }

    // A loop. The header step decides whether there is a first item; when it
    // fails, the body runs once and the loop ends, since a loop whose header
    // never completed has nothing to advance. A failing body step goes on
    // within the body; the advance step decides whether there is another item,
    // and when it fails the loop ends. A body that gives false leaves the loop.
    template <class Start, class Next, class Body>
    void loop(int headerStep, Start&& start, int advanceStep, Next&& next, Body&& body)
    {
        bool more = false;
        if (!guarded(headerStep, [&] { more = start(); })) {
            body();
            return;
        }
        while (more) {
            if constexpr (std::is_void_v<decltype(body())>)
                body();
            else if (!body())
                return;
            if (!guarded(advanceStep, [&] { more = next(); }))
                return;
        }
    }

    // The counted loop over positions 1..count, the count taken once.
    template <class Count, class Body>
    void forEach(int headerStep, Count&& count, int advanceStep, Body&& body)
    {
        int position = 1;
        int last = 0;
        loop(
            headerStep,
            [&] {
            last = count();
            return position <= last;
            },
            advanceStep, [&] { return position < last && ++position <= last; }, [&] { return invoke(body, position); });
    }

private:
    template <class Action>
    bool guarded(int number, Action&& action)
    {
        try {
            action();
            return true;
        } catch (const Failure& failure) {
            ShowErrorReport(m_dialogs, m_location, number, failure.description());
        } catch (const std::exception& failure) {
            ShowErrorReport(m_dialogs, m_location, number, QString::fromLocal8Bit(failure.what()));
        }
        return false;
    }

    template <class Body>
    static bool invoke(Body& body, int position)
    {
        if constexpr (std::is_void_v<decltype(body(position))>) {
            body(position);
            return true;
        } else {
            return body(position);
        }
    }

    Dialogs& m_dialogs;
    QString m_location;
};

// The handlers that carry no trap (list events, pointer movements, the pause
// field's change): a failure there shows no report box; it is noted on the
// standard error stream and the handler ends, as a signal handler must not
// let an exception through the event loop.
template <class Handler>
void untrapped(const char* handler, Handler&& body) noexcept
{
    try {
        body();
    } catch (const Failure& failure) {
        qWarning("%s: %s", handler, qUtf8Printable(failure.description()));
    } catch (const std::exception& failure) {
        qWarning("%s: %s", handler, failure.what());
    }
}
