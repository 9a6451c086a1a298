#pragma once

#include "BatchRunning.h"
#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "engine/Failure.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <chrono>

// What the tests of the transfer, the kept connections and the lanes share.
namespace TransferTesting {
inline constexpr auto ShortTimeout = std::chrono::milliseconds(1500);

inline QtLoopTransfer::Options testOptions()
{
    // The loopback server is reached directly, whatever proxy the machine has.
    return {ShortTimeout, false, {}};
}

// Runs the request alone on the batch until curl reports it done.
inline bool answeredOnBatch(LaneBatch& batch, CurlRequest& request, const QString& address)
{
    request.prepare(address);
    batch.add(request);
    runUntilNoneRunning(batch, ShortTimeout * 4);
    return request.haveResponse();
}

// Connections of this process to the loopback port that are still open.
inline int establishedConnectionsTo(quint16 port)
{
    QFile table(QStringLiteral("/proc/self/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int established = 0;
    table.readLine();  // the column names
    while (!table.atEnd()) {
        const QList<QByteArray> columns = table.readLine().simplified().split(' ');
        if (columns.size() > 3 && columns[2].endsWith(remote) && columns[3] == "01")
            ++established;
    }
    return established;
}

inline bool hasResponse(QtLoopTransfer& transfer)
{
    try {
        transfer.responseHeaders();
        return true;
    } catch (const Failure&) {
        return false;
    }
}
}  // namespace TransferTesting
