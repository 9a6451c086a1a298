#!/bin/sh
# One shard of the list LIST, as a pod of the Indexed Job runs it: shard
# JOB_COMPLETION_INDEX + 1 of SHARDS, its journal beside the list. Status 1
# (some addresses invalid) is a shard done; 2 and above, or a signal, is a
# failed pod, run again by the job, and the journal resumes it.
set -u
. "$(dirname "$0")/shard-input.sh"
# A missing index would run shard 1 again, and the job would count the pod done.
number_in "${JOB_COMPLETION_INDEX-}" 0 $((shards - 1)) ||
  refuse "JOB_COMPLETION_INDEX must be a whole number from 0 to $((shards - 1)) (SHARDS - 1), not '${JOB_COMPLETION_INDEX-}'"
shard=$((number + 1))
folder=$(dirname "$LIST")
tessaly-check --shard "$shard/$shards" --resume "$folder/journal-$shard.txt" "$LIST" >/dev/null
status=$?
[ "$status" -le 1 ] && exit 0
exit "$status"
