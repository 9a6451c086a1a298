#include "engine/transfer/ProxyAnswer.h"

#include "engine/verdict/Verdict.h"

#include <algorithm>

bool isProxysOwnAnswer(QByteArrayView headerBlock)
{
    if (!HeaderBlock::values(headerBlock, "x-squid-error").isEmpty())
        return true;
    const QList<QByteArray> servers = HeaderBlock::values(headerBlock, "server");
    if (std::any_of(servers.begin(), servers.end(), [](const QByteArray& name) { return name.startsWith("tinyproxy/"); }))
        return true;
    for (const QByteArray& status : HeaderBlock::values(headerBlock, "proxy-status")) {
        for (const QByteArray& parameter : status.split(';')) {
            if (parameter.trimmed().startsWith("error="))
                return true;
        }
    }
    return false;
}
