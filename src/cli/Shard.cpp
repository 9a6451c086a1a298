#include "cli/Shard.h"

#include "engine/address/HostKey.h"

#include <QRegularExpression>

std::optional<Shard> Shard::parse(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,6})/([0-9]{1,6})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int number = match.captured(1).toInt();
    const int count = match.captured(2).toInt();
    if (number < 1 || count > MostShards || number > count)
        return std::nullopt;
    return Shard{number, count};
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
