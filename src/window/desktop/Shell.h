#pragma once

#include <QString>
#include <QUrl>

// Hands an address to the user's web browser without waiting for it. Nothing
// is ever run through a command line built from the text.
class Shell {
public:
    virtual ~Shell() = default;

    // The text as the program has it, quoted or not. Only a web address is
    // opened; anything else is left alone without a word. True when the
    // browser was started: false for a text that is no web address, or when
    // the desktop could not start anything for it.
    bool open(const QString& text);

    // The http or https address the text stands for, or an empty URL when it
    // is not a web address. A bare host ("www.example.org") reads as http.
    static QUrl webAddressOf(const QString& text);

protected:
    // True when the desktop took the address.
    virtual bool openInBrowser(const QUrl& address) = 0;
};
