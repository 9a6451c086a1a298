#pragma once

#include <QString>

// Message and input boxes. A box shown without a title of its own carries the
// application title, as the desktop's own boxes do.
class Dialogs {
public:
    enum class Icon { None, Warning };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~Dialogs() = default;

    virtual void setApplicationTitle(const QString& title) = 0;
    virtual QString applicationTitle() const = 0;

    // Waits until the user answers; an empty title means the application title.
    virtual Answer messageBox(const QString& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
                              const QString& title = {}) = 0;
    // Gives the typed answer, or an empty text when the user cancels.
    virtual QString inputBox(const QString& prompt, const QString& title = {}, const QString& defaultAnswer = {}) = 0;
};
