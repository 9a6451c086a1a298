#!/bin/sh
# The whole list's report and result files from the SHARDS journals beside
# LIST, once every shard is done: report.txt, valid.txt and invalid.txt there.
set -u
# Bad input fails before anything is asked: a SHARDS of 0 or none would
# merge no journal and check the whole list afresh instead.
refuse() {
  echo "merge-shards.sh: $1" >&2
  exit 2
}
# Sets number to $1 if it is a whole number from $2 to $3 in decimal digits;
# leading zeros are dropped, as sh arithmetic would read 010 as octal.
number_in() {
  case $1 in '' | *[!0123456789]*) return 1 ;; esac
  number=${1#"${1%%[!0]*}"}
  number=${number:-0}
  [ ${#number} -le 6 ] && [ "$number" -ge "$2" ] && [ "$number" -le "$3" ]
}
number_in "${SHARDS-}" 1 100000 || refuse "SHARDS must be a whole number from 1 to 100000, not '${SHARDS-}'"
shards=$number
[ -n "${LIST-}" ] || refuse "LIST must name the list"
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
