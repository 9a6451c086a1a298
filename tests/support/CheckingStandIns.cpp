#include "CheckingStandIns.h"

#include "engine/Failure.h"

bool SwitchableInternetLayer::queryConnectedState(ConnectedStateRecord& record)
{
    ++queries;
    if (failing)
        throw Failure(QStringLiteral("The internet layer does not answer"));
    record.connectedState = online ? StateConnected : 0;
    return true;
}

bool SwitchableInternetLayer::setConnectedState(const ConnectedStateRecord& record)
{
    if (failing)
        throw Failure(QStringLiteral("The internet layer does not answer"));
    writes.append(record);
    if (!acceptsSwitching)
        return false;
    online = (record.connectedState & StateConnected) != 0;
    return true;
}

void ScriptedTransferControl::request(const QString& address)
{
    requested.append(address);
    m_response.reset();
    if (duringRequest)
        duringRequest(address);
    if (unusable.contains(address))
        throw Failure(QStringLiteral("The address cannot be used"));
    if (const auto found = headersFor.constFind(address); found != headersFor.cend())
        m_response = *found;
}

QString ScriptedTransferControl::responseHeaders()
{
    if (!m_response)
        throw Failure(QStringLiteral("No response headers are available"));
    return *m_response;
}

void ScriptedTransferControl::expectAddresses(qsizetype count, const AddressAt& address)
{
    expected.clear();
    for (qsizetype index = 0; index < count; ++index)
        expected << QString::fromUtf8(address(index));
}
