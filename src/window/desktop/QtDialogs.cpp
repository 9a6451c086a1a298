#include "window/desktop/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace {
constexpr int AllowMultiSelect = 0x200;

QStringList nameFilters(const QString& filter)
{
    QStringList filters;
    for (const auto& [name, pattern] : CommonDialog::filterEntries(filter)) {
        QString patterns = pattern;
        patterns.replace(u';', u' ');
        filters << (name.contains(u'(') ? name.section(u'(', 0, 0).trimmed() : name) + QStringLiteral(" (") + patterns + u')';
    }
    return filters;
}
}  // namespace

QString QtDialogs::displayText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

Dialogs::Answer QtDialogs::messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, titleOr(title),
                    displayText(text), buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const int pressed = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::inputBox(const QString& prompt, const QString& title, const QString& defaultAnswer)
{
    bool accepted = false;
    const QString answer = QInputDialog::getText(QApplication::activeWindow(), titleOr(title), prompt,
                                                 QLineEdit::Normal, defaultAnswer, &accepted);
    return accepted ? answer : QString();
}

void QtCommonDialog::showOpen()
{
    QFileDialog dialog(QApplication::activeWindow(), dialogTitle());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(flags() & AllowMultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(filter()));
    if (!fileName().isEmpty())
        dialog.selectFile(fileName());
    setFileName({});
    if (dialog.exec() == QDialog::Accepted)
        acceptChosen(dialog.selectedFiles());
}

void QtCommonDialog::showSave()
{
    QFileDialog dialog(QApplication::activeWindow(), dialogTitle());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks before replacing a file itself.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(nameFilters(filter()));
    if (!fileName().isEmpty())
        dialog.selectFile(fileName());
    setFileName({});
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        acceptChosen({dialog.selectedFiles().front()});
}
