#pragma once

#include <QByteArrayView>
#include <QString>

#include <variant>

// A list too big for one machine is split by host: a run with --shard K/N
// asks only the addresses whose host falls in shard K of N, so that each host
// is asked by one machine only and its limits hold across them. The shard of
// a host is a hash every machine computes alike: FNV-1a (64 bits) of the host
// as HostKey spells it, modulo N. The machines
// sharing a list run one version, as curl's reading of odd hosts may change.
struct Shard {
    int number = 1;  // from 1
    int count = 1;

    // "K/N" with 1 <= K <= N <= MostShards, or what is wrong with the text,
    // as --shard's usage message.
    static std::variant<Shard, QString> parse(const QString& text);
    static constexpr int MostShards = 100000;

    // The shard an address's host falls in; an address without a host, in
    // the first.
    static int of(QByteArrayView address, int count);
    bool holds(QByteArrayView address) const { return of(address, count) == number; }
};
