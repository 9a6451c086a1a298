# What both scripts take from the job, checked before anything is asked:
# SHARDS a whole number from 1 to 100000 (a SHARDS of 0 or none would merge
# no journal and check the whole list afresh), LIST set. Sourced; sets shards.
refuse() {
  echo "$(basename "$0"): $1" >&2
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
