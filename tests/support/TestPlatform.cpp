#include "TestPlatform.h"

#include "engine/Failure.h"

#include <QTest>

QStringList ScriptedDialogs::texts() const
{
    QStringList result;
    for (const ShownBox& box : shown)
        result << box.text;
    return result;
}

bool ScriptedDialogs::take(ShownBox::Kind kind, const ShownBox& box, Reply& reply)
{
    shown.append(box);
    if (m_script.isEmpty() || m_script.head().kind != kind) {
        const QByteArray what = (kind == ShownBox::Kind::Message ? "message box: " : "input box: ")
                              + box.text.toUtf8().toPercentEncoding(" /:.()?");
        QTest::qFail(("Unexpected " + what).constData(), __FILE__, __LINE__);
        return false;
    }
    reply = m_script.dequeue();
    if (whileShown)
        whileShown(box);
    return true;
}

Dialogs::Answer ScriptedDialogs::messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    Reply reply;
    if (!take(ShownBox::Kind::Message,
              {ShownBox::Kind::Message, text, title.isEmpty() ? m_title : title, icon, buttons, {}}, reply))
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    return reply.answer;
}

QString ScriptedDialogs::inputBox(const QString& prompt, const QString& title, const QString& defaultAnswer)
{
    Reply reply;
    if (!take(ShownBox::Kind::Input,
              {ShownBox::Kind::Input, prompt, title.isEmpty() ? m_title : title, Icon::None, Buttons::Ok, defaultAnswer},
              reply))
        return {};
    return reply.text;
}

void ScriptedCommonDialog::show(bool save)
{
    shown.append({save, fileName(), flags(), dialogTitle(), filter()});
    if (m_script.isEmpty()) {
        QTest::qFail("Unexpected file dialog", __FILE__, __LINE__);
        setFileName({});
        return;
    }
    const Choice choice = m_script.dequeue();
    setFileName({});
    if (!choice.raw) {
        acceptChosen(choice.paths);
    } else if (choice.returnedName.size() > maxFileSize()) {
        throw Failure(QStringLiteral("Buffer too small"), Failure::BufferTooSmall);
    } else {
        setFileName(choice.returnedName);
    }
}

QString MemorySettingsStore::read(const QString& application, const QString& section, const QString& key,
                                  const QString& defaultValue)
{
    if (failReads)
        throw Failure(QStringLiteral("The settings store cannot be read"));
    return entries.value(keyOf(application, section, key), defaultValue);
}

void MemorySettingsStore::write(const QString& application, const QString& section, const QString& key, const QString& value)
{
    entries.insert(keyOf(application, section, key), value);
    writes.append(value);
}

TestPlatform::TestPlatform()
    : m_platform{dialogs, commonDialog, shell, settings, programFolder, random, exit, internet, [this] {
                     auto made = std::make_unique<ScriptedTransferControl>();
                     transfer = made.get();
                     return made;
                 }}
{
    m_platform.makeSkinFramework = [this] { return std::make_unique<RecordingSkinFramework>(skin); };
}

TestPlatform::~TestPlatform()
{
    if (!dialogs.scriptDone())
        QTest::qFail("A scripted message or input box was never shown", __FILE__, __LINE__);
    if (!commonDialog.scriptDone())
        QTest::qFail("A scripted file dialog was never shown", __FILE__, __LINE__);
}
