#!/bin/sh
# One shard of the list LIST, as a pod of the Indexed Job runs it: shard
# JOB_COMPLETION_INDEX + 1 of SHARDS, its journal beside the list. Status 1
# (some addresses invalid) is a shard done; 2 and above, or a signal, is a
# failed pod, run again by the job, and the journal resumes it.
set -u
# Bad input fails the pod before anything is asked: a missing index would
# run shard 1 again, and the job would count the pod done.
refuse() {
  echo "check-shard.sh: $1" >&2
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
number_in "${JOB_COMPLETION_INDEX-}" 0 $((shards - 1)) ||
  refuse "JOB_COMPLETION_INDEX must be a whole number from 0 to $((shards - 1)) (SHARDS - 1), not '${JOB_COMPLETION_INDEX-}'"
shard=$((number + 1))
[ -n "${LIST-}" ] || refuse "LIST must name the list"
folder=$(dirname "$LIST")
tessaly-check --shard "$shard/$shards" --resume "$folder/journal-$shard.txt" "$LIST" >/dev/null
status=$?
[ "$status" -le 1 ] && exit 0
exit "$status"
