#pragma once

// What the engine's curl code shares: typed handles and the words for a
// library that cannot start. For the engine's own sources only; nothing
// outside them includes curl.

#include "engine/Failure.h"
#include "engine/transfer/CurlRequest.h"

#include <curl/curl.h>

inline CURLM* multiOf(void* handle) { return static_cast<CURLM*>(handle); }
inline CURL* easyOf(void* handle) { return static_cast<CURL*>(handle); }
inline CURL* easyOf(const CurlRequest& request) { return easyOf(request.handle()); }

inline const QString CannotStart = QStringLiteral("The transfer library cannot be started");
