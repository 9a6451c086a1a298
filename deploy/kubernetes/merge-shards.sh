#!/bin/sh
# The whole list's report and result files from the SHARDS journals beside
# LIST, once every shard is done: report.txt, valid.txt and invalid.txt there.
set -u
. "$(dirname "$0")/shard-input.sh"
folder=$(dirname "$LIST")
set --
shard=1
while [ "$shard" -le "$shards" ]; do
  set -- "$@" --merge "$folder/journal-$shard.txt"
  shard=$((shard + 1))
done
# The report is replaced only by a whole one; the result files are saved
# safely by tessaly-check itself.
tessaly-check "$@" --valid "$folder/valid.txt" --invalid "$folder/invalid.txt" "$LIST" >"$folder/report.txt.part"
status=$?
[ "$status" -le 1 ] || exit "$status"
mv "$folder/report.txt.part" "$folder/report.txt"
