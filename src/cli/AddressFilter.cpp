#include "cli/AddressFilter.h"

#include "engine/address/HostKey.h"
#include "engine/address/PrivateAddress.h"

#include <algorithm>

std::variant<QRegularExpression, QString> AddressFilter::patternOf(const QString& option, const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("--%1 needs a pattern").arg(option);
    QRegularExpression pattern(text);
    if (!pattern.isValid())
        return QStringLiteral("--%1 %2: %3 at character %4").arg(option, text, pattern.errorString()).arg(pattern.patternErrorOffset());
    pattern.optimize();
    return pattern;
}

std::optional<QString> AddressFilter::whyLeftOut(QByteArrayView address) const
{
    if (leavesNothingOut())
        return std::nullopt;
    const QString text = QString::fromUtf8(address);
    // --exclude wins over --include: the exclusion is named.
    for (const QRegularExpression& pattern : excluded) {
        if (pattern.match(text).hasMatch())
            return QStringLiteral("excluded by --exclude %1").arg(pattern.pattern());
    }
    if (!included.isEmpty() && std::none_of(included.begin(), included.end(), [&](const QRegularExpression& pattern) {
            return pattern.match(text).hasMatch();
        }))
        return QStringLiteral("matches no --include");
    if (excludePrivate) {
        const QByteArray host = HostKey::hostOf(address);
        if (PrivateAddress::ofHost(host).value_or(false))
            return QStringLiteral("private host %1 not asked (--exclude-private)").arg(QString::fromLatin1(host));
    }
    return std::nullopt;
}
