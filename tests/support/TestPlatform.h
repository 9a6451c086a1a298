#pragma once

#include "window/desktop/Platform.h"
#include "RecordingSkinFramework.h"
#include "CheckingStandIns.h"

#include <QMap>
#include <QQueue>
#include <QStringList>
#include <QTemporaryDir>

// Stand-ins for the desktop. Each records what the program showed or asked,
// to the byte, and answers from a script; a box, dialog or browser call that
// the test did not script fails the test, so no test ever shows a real modal
// box, opens a browser or ends the process.

struct ShownBox {
    enum class Kind { Message, Input };
    Kind kind;
    QString text;   // the message, or the input box's prompt
    QString title;  // as shown: the application title where none was given
    Dialogs::Icon icon = Dialogs::Icon::None;
    Dialogs::Buttons buttons = Dialogs::Buttons::Ok;
    QString defaultAnswer;
};

class ScriptedDialogs : public Dialogs {
public:
    // The next message box is answered with this.
    void expectMessage(Answer answer = Answer::Ok) { m_script.enqueue({ShownBox::Kind::Message, answer, {}}); }
    void expectMessages(int count)
    {
        for (int i = 0; i < count; ++i)
            expectMessage();
    }
    // The next input box is answered with this text (empty for Cancel).
    void expectInput(const QString& answer) { m_script.enqueue({ShownBox::Kind::Input, Answer::Ok, answer}); }
    bool scriptDone() const { return m_script.isEmpty(); }

    QList<ShownBox> shown;
    QStringList texts() const;

    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }
    Answer messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultAnswer) override;

    // Runs while a scripted box is "up", as the real box runs its own loop.
    std::function<void(const ShownBox&)> whileShown;

private:
    struct Reply {
        ShownBox::Kind kind;
        Answer answer;
        QString text;
    };
    bool take(ShownBox::Kind kind, const ShownBox& box, Reply& reply);
    QQueue<Reply> m_script;
    QString m_title;
};

class ScriptedCommonDialog : public CommonDialog {
public:
    struct Shown {
        bool save;
        QString fileName;
        int flags;
        QString title;
        QString filter;
    };
    // The next dialog "chooses" these paths (none: Cancel).
    void expectChoice(const QStringList& paths) { m_script.enqueue({paths, {}, false}); }
    // The next dialog returns exactly this name, NUL separators and all.
    void expectReturnedName(const QString& name) { m_script.enqueue({{}, name, true}); }
    bool scriptDone() const { return m_script.isEmpty(); }
    QList<Shown> shown;

    void showOpen() override { show(false); }
    void showSave() override { show(true); }

private:
    struct Choice {
        QStringList paths;
        QString returnedName;
        bool raw;
    };
    void show(bool save);
    QQueue<Choice> m_script;
};

class RecordingShell : public Shell {
public:
    QList<QUrl> opened;
    bool failOpens = false;  // the desktop has no browser to start

protected:
    bool openInBrowser(const QUrl& address) override
    {
        if (failOpens)
            return false;
        opened.append(address);
        return true;
    }
};

class MemorySettingsStore : public SettingsStore {
public:
    QMap<QString, QString> entries;  // "application/section/key"
    QStringList writes;              // every value written, in order
    bool failReads = false;

    static QString keyOf(const QString& application, const QString& section, const QString& key)
    {
        return application + u'/' + section + u'/' + key;
    }
    QString read(const QString& application, const QString& section, const QString& key, const QString& defaultValue) override;
    void write(const QString& application, const QString& section, const QString& key, const QString& value) override;
};

// A program's folder and an installed data folder, both empty to begin with.
class TemporaryProgramFolder : public ProgramFolder {
public:
    QString path() const override { return m_dir.path(); }
    QString dataFolder() const override { return m_data.path(); }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_data;
};

class ScriptedRandom : public RandomSource {
public:
    double fraction = 0.5;
    int seeds = 0;
    void seedFromClock() override { ++seeds; }
    double nextFraction() override { return fraction; }
};

class RecordingExit : public ProgramExit {
public:
    int exits = 0;
    void exitNow() override { ++exits; }
};

class TestPlatform {
public:
    TestPlatform();
    // Fails the test when a scripted box or dialog was never shown.
    ~TestPlatform();
    Platform& platform() { return m_platform; }

    ScriptedDialogs dialogs;
    ScriptedCommonDialog commonDialog;
    RecordingShell shell;
    MemorySettingsStore settings;
    TemporaryProgramFolder programFolder;
    ScriptedRandom random;
    RecordingExit exit;
    SkinRecord skin;  // what every skin framework the window made was asked
    SwitchableInternetLayer internet;
    // The transfer control of the window made last, while the factory is the
    // scripted one.
    ScriptedTransferControl* transfer = nullptr;

private:
    Platform m_platform;
};
