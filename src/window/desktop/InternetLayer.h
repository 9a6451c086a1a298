#pragma once

#include <QtGlobal>

// The internet layer's global connected state: a record of two words, the
// connected-state flags and the option flags.
struct ConnectedStateRecord {
    quint32 connectedState = 0;
    quint32 flags = 0;
};

class InternetLayer {
public:
    // Bit of the first word that means on line.
    static constexpr quint32 StateConnected = 1;

    virtual ~InternetLayer() = default;

    // Fills the record; gives whether the layer answered. A layer that does
    // not answer leaves the record as it was passed.
    virtual bool queryConnectedState(ConnectedStateRecord& record) = 0;
    // Gives whether the layer took the new state.
    virtual bool setConnectedState(const ConnectedStateRecord& record) = 0;
};

// This desktop's network stack has no global off-line mode: it is always on
// line, and switching has nothing to do.
class AlwaysOnlineInternetLayer : public InternetLayer {
public:
    bool queryConnectedState(ConnectedStateRecord& record) override
    {
        record.connectedState = StateConnected;
        return true;
    }
    bool setConnectedState(const ConnectedStateRecord&) override { return true; }
};
