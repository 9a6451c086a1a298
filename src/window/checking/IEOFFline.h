#pragma once

#include "window/desktop/InternetLayer.h"

// The internet layer's connected state: switched on line when it is off, and
// never switched back.
namespace IEOFFline {
bool IsOffline(InternetLayer& layer);
void GoOnline(InternetLayer& layer);
// True when the layer is on line, already or after switching.
bool EnsureOnline(InternetLayer& layer);
}
