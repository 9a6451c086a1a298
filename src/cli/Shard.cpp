#include "cli/Shard.h"

#include "engine/address/HostKey.h"

#include <QRegularExpression>

std::variant<Shard, QString> Shard::parse(const QString& text)
{
    // Digits enough for any number to be read whole, so that a count far past
    // the limit is told as one.
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,18})/([0-9]{1,18})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return QStringLiteral("--shard takes K/N, shard K of N, such as 1/4");
    const qint64 number = match.captured(1).toLongLong();
    const qint64 count = match.captured(2).toLongLong();
    if (count > MostShards)
        return QStringLiteral("--shard K/N takes N of at most %1").arg(MostShards);
    if (number < 1 || count < 1)
        return QStringLiteral("--shard K/N counts shards from 1: K and N are 1 or more");
    if (number > count)
        return QStringLiteral("--shard K/N takes K of at most N: there is no shard %1 of %2").arg(number).arg(count);
    return Shard{static_cast<int>(number), static_cast<int>(count)};
}

int Shard::of(QByteArrayView address, int count)
{
    // bücher.de and xn--bcher-kva.de are one host, and so one shard.
    const QByteArray host = HostKey::hostOf(address);
    if (host.isEmpty())
        return 1;
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : host) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 1099511628211ULL;
    }
    return static_cast<int>(hash % static_cast<quint64>(count)) + 1;
}
