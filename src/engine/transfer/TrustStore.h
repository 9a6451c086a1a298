#pragma once

#include "engine/transfer/TrustSources.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// What every curl request of the program shares, per set of trusted
// certificate authorities: the trust store, read on a worker thread and
// handed to every new TLS connection instead of curl parsing the whole bundle
// for each (read again, on the worker, when a new connection finds the file
// changed; the store read before serves until then); and a share handle for TLS sessions and name lookups, so that a
// host seen before resumes its session rather than handshaking from scratch.
// Requests that trust different authorities never share sessions. libcurl
// 7.88's share handle keeps only 8 TLS sessions, dropping the oldest: a list
// taking turns among up to 8 hosts resumes its sessions; beyond that the kept
// connections do the work.
class TrustStore {
public:
    // Points the easy handle at the shared trust store and share handle for
    // these authorities, starting to read the store if nobody has yet.
    // Raises Failure when curl refuses an option.
    static void apply(void* easy, const TrustSources& sources);
    // Starts reading the store for these authorities, if nobody has yet, so
    // that it is ready by the first connection.
    static void readAhead(const TrustSources& sources);
    // The store is read: a TLS connection that starts now does not wait.
    // False while nobody has started reading it.
    static bool ready(const TrustSources& sources);
    // Calls back once the store is read: at once on this thread when it
    // already is, otherwise on the worker thread. Starts reading it if nobody
    // has yet.
    static void whenReady(const TrustSources& sources, std::function<void()> callback);
    // Why the store could not be read, naming the file or folder and what
    // named it ("SSL_CERT_FILE names /x.pem, which cannot be read: No such
    // file or directory"); none once it has been. Waits for the first read,
    // starting it if nobody has yet. A store that cannot be read fails every
    // TLS connection: no request goes out trusting less, or nothing.
    static std::optional<QString> problem(const TrustSources& sources);
};
