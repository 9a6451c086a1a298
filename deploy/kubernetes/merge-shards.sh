#!/bin/sh
# The whole list's report and result files from the SHARDS journals beside
# LIST, once every shard is done: report.txt, valid.txt and invalid.txt there.
set -u
folder=$(dirname "$LIST")
set --
shard=1
while [ "$shard" -le "$SHARDS" ]; do
  set -- "$@" --merge "$folder/journal-$shard.txt"
  shard=$((shard + 1))
done
tessaly-check "$@" --valid "$folder/valid.txt" --invalid "$folder/invalid.txt" "$LIST" >"$folder/report.txt"
status=$?
[ "$status" -le 1 ] && exit 0
exit "$status"
