#pragma once

#include <QtGlobal>

#include <chrono>
#include <cstddef>

// Every time and size the transfer keeps to, in one place, each with its
// reason. Both programs ask by these.
namespace Policy {
using namespace std::chrono_literals;

// How long an address may take, connection included, before it counts as no
// answer: the window's time-out, and tessaly-check's default.
inline constexpr std::chrono::milliseconds Timeout = 30s;

// curl ends a transfer at the time-out; the window's wait for it lasts this
// much longer only to guard against a transfer curl never reports finished.
inline constexpr std::chrono::milliseconds TimeoutMargin = 500ms;

// curl takes no longer address: one is refused before it is converted or
// copied any further.
inline constexpr qsizetype LongestAddress = 8000000;

// Real pages run to some hundreds of kilobytes: reading one to its end keeps
// the connection, far cheaper than a new one. Past this size the transfer
// ends and its connection goes.
inline constexpr qint64 BodyLimit = 1024 * 1024;

// Idle connections a multi handle keeps when nothing is known of the
// addresses to come: one per host for as many hosts as a list takes turns
// with, and a bound on open sockets. Told what comes, a program keeps one for
// every host still to be asked instead, within the limit on open files less
// FilesKeptFree.
inline constexpr long IdleConnections = 64;
// Open files kept free of kept connections for whatever else the program
// opens while it asks: list files, the trust store, the resolver's files.
inline constexpr long FilesKeptFree = 64;
// A connection idle longer than this is not reused (many servers have
// dropped theirs by then anyway), and the window's transfer control closes
// its kept connections once it has had no request for this long.
inline constexpr std::chrono::seconds IdleConnectionAge = 60s;

// How long a new request lets the previous body finish before it drops that
// transfer and its connection: what a new connection to that host took when
// one was last opened, within these bounds. A new connection costs the
// server too, so even a near host gets the least. tessaly-check gives every
// body the most.
inline constexpr std::chrono::milliseconds DrainGraceLeast = 100ms;
inline constexpr std::chrono::milliseconds DrainGrace = 1000ms;

// The window remembers what a new connection cost for this many origins, then
// forgets them all and starts over.
inline constexpr std::size_t OriginsRemembered = 4096;
}
