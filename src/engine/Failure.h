#pragma once

#include <QString>
#include <exception>

// The one kind of error the program raises and traps. Whatever a desktop
// component reports as an error (a list position that does not exist, a file
// that cannot be opened, a text that is not a number) reaches the step trap
// as a Failure carrying its description.
class Failure : public std::exception {
public:
    // The file dialog's own code for "the chosen names do not fit the buffer".
    static constexpr int BufferTooSmall = 20476;

    explicit Failure(QString description, int code = 0)
        : m_description(std::move(description)), m_code(code), m_what(m_description.toUtf8())
    {
    }

    const QString& description() const noexcept { return m_description; }
    int code() const noexcept { return m_code; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    int m_code;
    QByteArray m_what;
};
