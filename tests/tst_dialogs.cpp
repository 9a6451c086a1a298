// The real Qt boxes pass titles, texts and answers through. Each box is
// answered by a queued call that finds the active modal widget.
#include "window/desktop/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
// Runs `answer` on the next modal widget once it is up.
template <class Widget, class Answer>
void whenModal(Answer answer)
{
    QTimer::singleShot(0, [answer] {
        auto* widget = qobject_cast<Widget*>(QApplication::activeModalWidget());
        QVERIFY(widget);
        answer(widget);
    });
}
}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void messageBoxShowsTitleTextIconAndAnswers_data()
    {
        QTest::addColumn<bool>("yesNo");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("pressYes");
        QTest::addColumn<Dialogs::Answer>("answer");
        QTest::newRow("plain box, application title") << false << QString() << false << Dialogs::Answer::Ok;
        QTest::newRow("error report") << false << QStringLiteral("Application Error") << false << Dialogs::Answer::Ok;
        QTest::newRow("question, yes") << true << QString() << true << Dialogs::Answer::Yes;
        QTest::newRow("question, no") << true << QString() << false << Dialogs::Answer::No;
    }
    void messageBoxShowsTitleTextIconAndAnswers()
    {
        QFETCH(bool, yesNo);
        QFETCH(QString, title);
        QFETCH(bool, pressYes);
        QFETCH(Dialogs::Answer, answer);
        QtDialogs dialogs;
        dialogs.setApplicationTitle(QStringLiteral("Tessaly"));
        const Dialogs::Icon icon = title.isEmpty() ? Dialogs::Icon::None : Dialogs::Icon::Warning;
        QString seenTitle, seenText;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenIcon = box->icon();
            box->button(yesNo ? (pressYes ? QMessageBox::Yes : QMessageBox::No) : QMessageBox::Ok)->click();
        });
        const Dialogs::Answer given = dialogs.messageBox(QStringLiteral("first\r\nsecond\r\rthird"),
                                                         yesNo ? Dialogs::Buttons::YesNo : Dialogs::Buttons::Ok, icon,
                                                         title);
        QCOMPARE(given, answer);
        QCOMPARE(seenTitle, title.isEmpty() ? QStringLiteral("Tessaly") : title);
        QCOMPARE(seenText, QStringLiteral("first\nsecond\n\nthird"));
        QCOMPARE(seenIcon, icon == Dialogs::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon);
    }

    void inputBoxGivesTheAnswerOrEmptyOnCancel_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("answer");
        QTest::newRow("typed and OK") << QStringLiteral("  http://127.0.0.1/ ") << true
                                      << QStringLiteral("  http://127.0.0.1/ ");
        QTest::newRow("typed and Cancel") << QStringLiteral("http://127.0.0.1/") << false << QString();
    }
    void inputBoxGivesTheAnswerOrEmptyOnCancel()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accept);
        QFETCH(QString, answer);
        QtDialogs dialogs;
        dialogs.setApplicationTitle(QStringLiteral("Tessaly"));
        QString seenTitle, seenPrompt, seenDefault;
        whenModal<QInputDialog>([&](QInputDialog* input) {
            seenTitle = input->windowTitle();
            seenPrompt = input->labelText();
            seenDefault = input->textValue();
            input->setTextValue(typed);
            accept ? input->accept() : input->reject();
        });
        Dialogs& boxes = dialogs;
        QCOMPARE(boxes.inputBox(QStringLiteral("Enter website address to add: ")), answer);
        QCOMPARE(seenTitle, QStringLiteral("Tessaly"));
        QCOMPARE(seenPrompt, QStringLiteral("Enter website address to add: "));
        QCOMPARE(seenDefault, QString());
    }
};

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
