#!/bin/sh
# One shard of the list LIST, as a pod of the Indexed Job runs it: shard
# JOB_COMPLETION_INDEX + 1 of SHARDS, its journal beside the list. Status 1
# (some addresses invalid) is a shard done; 2 and above, or a signal, is a
# failed pod, run again by the job, and the journal resumes it.
set -u
shard=$((JOB_COMPLETION_INDEX + 1))
folder=$(dirname "$LIST")
tessaly-check --shard "$shard/$SHARDS" --resume "$folder/journal-$shard.txt" "$LIST" >/dev/null
status=$?
[ "$status" -le 1 ] && exit 0
exit "$status"
