#pragma once

#include "window/desktop/CommonDialog.h"
#include "window/desktop/Dialogs.h"

// Qt's message box and input dialog, modal to the application.
class QtDialogs : public Dialogs {
public:
    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }
    Answer messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultAnswer) override;

    // CR LF and a lone CR as the line breaks Qt draws.
    static QString displayText(QString text);

private:
    QString titleOr(const QString& title) const { return title.isEmpty() ? m_title : title; }
    QString m_title;
};

// Qt's file dialog in the common dialog's place.
class QtCommonDialog : public CommonDialog {
public:
    void showOpen() override;
    void showSave() override;
};
