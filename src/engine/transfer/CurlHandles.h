#pragma once

// What the engine's curl drivers share: typed handles, a multi handle set up
// the one way, and the transfers it reports done. For the engine's own
// sources only; nothing outside them includes curl.

#include "engine/Failure.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/Policy.h"

#include <curl/curl.h>

inline CURLM* multiOf(void* handle) { return static_cast<CURLM*>(handle); }
inline CURL* easyOf(void* handle) { return static_cast<CURL*>(handle); }
inline CURL* easyOf(const CurlRequest& request) { return easyOf(request.handle()); }

inline const QString CannotStart = QStringLiteral("The transfer library cannot be started");

// A new multi handle that keeps Policy::IdleConnections idle connections.
// Raises Failure when curl cannot make one.
inline CURLM* newMultiHandle()
{
    initialiseCurlOnce();
    CURLM* multi = curl_multi_init();
    if (!multi)
        throw Failure(CannotStart);
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, Policy::IdleConnections);
    return multi;
}

// Calls done(easy handle, CURLcode) for each transfer curl reports done.
template <class Done>
void forEachFinished(CURLM* multi, Done&& done)
{
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &waiting)) {
        if (message->msg == CURLMSG_DONE)
            done(message->easy_handle, message->data.result);
    }
}
