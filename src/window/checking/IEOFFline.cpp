#include "window/checking/IEOFFline.h"

// The layer's own answers are not consulted: a query it does not answer
// leaves the record zero, which reads as off line.
bool IEOFFline::IsOffline(InternetLayer& layer)
{
    ConnectedStateRecord record;
    layer.queryConnectedState(record);
    return (record.connectedState & InternetLayer::StateConnected) == 0;
}

void IEOFFline::GoOnline(InternetLayer& layer) { layer.setConnectedState({InternetLayer::StateConnected, 0}); }

bool IEOFFline::EnsureOnline(InternetLayer& layer)
{
    if (IsOffline(layer)) {
        GoOnline(layer);
        return !IsOffline(layer);
    }
    return true;
}
