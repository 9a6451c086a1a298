#pragma once

#include <QByteArrayView>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <optional>
#include <variant>

// Which addresses a run leaves unasked, as the user said: those an --exclude
// pattern finds, those no --include pattern finds (when there is one), and
// with --exclude-private those whose host is written as a private address
// or a name for this machine. The patterns search the address as it would
// be asked (a document's link resolved against its base), anywhere in it
// unless anchored; links checked on disk are no addresses to ask, and
// --exclude-path leaves their files out. Where a name leads is for the
// request to check, on the address it connects to.
struct AddressFilter {
    QList<QRegularExpression> included;
    QList<QRegularExpression> excluded;
    bool excludePrivate = false;

    // The pattern an option was given, or the problem, naming both and Qt's
    // words for what is wrong.
    static std::variant<QRegularExpression, QString> patternOf(const QString& option, const QString& text);
    // Why the address is left unasked, or nothing when it is asked.
    std::optional<QString> whyLeftOut(QByteArrayView address) const;
    bool leavesNothingOut() const { return included.isEmpty() && excluded.isEmpty() && !excludePrivate; }
};
