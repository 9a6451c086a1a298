#pragma once

#include "window/desktop/InternetLayer.h"
#include "engine/transfer/TransferControl.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>

// A connected state that can be off line and accept or refuse switching on.
class SwitchableInternetLayer : public InternetLayer {
public:
    bool online = true;
    bool acceptsSwitching = true;
    bool failing = false;  // every call raises Failure
    int queries = 0;
    QList<ConnectedStateRecord> writes;

    bool queryConnectedState(ConnectedStateRecord& record) override;
    bool setConnectedState(const ConnectedStateRecord& record) override;
};

// A transfer control that answers from a table of header blocks: an address
// without an entry gets no response; one in `unusable` raises Failure.
class ScriptedTransferControl : public TransferControl {
public:
    QHash<QString, QString> headersFor;
    QStringList unusable;
    QStringList requested;
    // The addresses the last run said it would ask.
    QStringList expected;
    // Runs inside each request, as window events would while it waits.
    std::function<void(const QString& address)> duringRequest;

    void request(const QString& address) override;
    QString responseHeaders() override;
    void expectAddresses(qsizetype count, const AddressAt& address) override;

private:
    std::optional<QString> m_response;
};
