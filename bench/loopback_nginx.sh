# shellcheck shell=bash disable=SC2034,SC2154 # sets the caller's figures, reads its $work
# Sourced by the benchmarks that serve from a loopback nginx: a free port,
# nginx started on the configuration the caller wrote, its one worker's CPU,
# a command timed by GNU time, and a tool's timed run with the run's lines of
# nginx's log.
# The caller sets $work (a folder of its own, removed on exit), writes
# $work/nginx.conf with `pid $work/nginx.pid;`, `error_log $work/error.log;`
# and `access_log $work/access.log ...;`, and defines in_namespace, which runs
# a command as every tool of that benchmark is run.

# libcurl gives *.localhost both ::1 and 127.0.0.1, ::1 first: nginx listens on
# both when the machine has ::1, so that no connection starts with a refusal.
ipv6=
grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null && ipv6=yes

# The first port from $1 up that nothing listens on, on 127.0.0.1 nor ::1.
free_port() {
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null \
    || { [ -n "$ipv6" ] && (exec 3<>"/dev/tcp/::1/$port") 2>/dev/null; }; do
    port=$((port + 1))
  done
  echo "$port"
}

nginx_pid=
worker=
start_nginx() {
  if ! /usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g 'daemon on;' 2>>"$work/error.log"; then
    echo "$0: nginx did not start:" >&2; cat "$work/error.log" >&2; exit 1
  fi
  for _ in $(seq 100); do [ -s "$work/nginx.pid" ] && break; sleep 0.05; done
  [ -s "$work/nginx.pid" ] || { echo "$0: nginx wrote no pid:" >&2; cat "$work/error.log" >&2; exit 1; }
  nginx_pid=$(cat "$work/nginx.pid")
  for _ in $(seq 100); do  # the pid file comes before the worker
    worker=$(cat "/proc/$nginx_pid/task/$nginx_pid/children"); worker=${worker%% *}
    [ -n "$worker" ] && break
    sleep 0.05
  done
  [ -n "$worker" ] || { echo "$0: nginx started no worker:" >&2; cat "$work/error.log" >&2; exit 1; }
}
stop_nginx() {
  if [ -n "$nginx_pid" ]; then kill -QUIT "$nginx_pid" 2>/dev/null || true; fi
  nginx_pid=
}

ticks=$(getconf CLK_TCK)
worker_ticks() { awk '{print $14 + $15}' "/proc/$worker/stat"; }

log_lines() { wc -l < "$work/access.log"; }
# A client's last requests can be logged a moment after it exits (a dropped
# body is noticed on nginx's next write): wait for the count the run made, or
# for half a second without a new line.
settle() {
  local from=$1 want=$2 last=-1 same=0 got
  while :; do
    got=$(($(log_lines) - from))
    ((got >= want)) && return 0
    if ((got == last)); then
      same=$((same + 1)); ((same >= 10)) && return 0
    else
      same=0; last=$got
    fi
    sleep 0.05
  done
}

# Runs a command under GNU time, through WRAP (`command`, or in_namespace for a
# tool as the benchmark runs it), its standard output to OUTPUT and its
# standard error to $work/stderr: sets wall, peak (KiB), user, sys and status.
#   timed WRAP OUTPUT COMMAND...
timed() {
  local wrap=$1 out=$2; shift 2
  rm -f "$work/time"
  "$wrap" /usr/bin/time -f '%e %M %U %S %x' -o "$work/time" "$@" > "$out" 2> "$work/stderr" || true
  [ -s "$work/time" ] || { echo "$0: $1 did not run:" >&2; cat "$work/stderr" >&2; exit 1; }
  read -r wall peak user sys status < <(tail -n 1 "$work/time")
}

# Runs a tool through in_namespace, timed, then sets nginx_cpu to nginx's
# worker's CPU over the run and puts the run's lines of nginx's log in
# $work/run.log.
#   run OUTPUT REQUESTS-EXPECTED COMMAND...
run() {
  local out=$1 want=$2; shift 2
  local from before
  from=$(log_lines)
  before=$(worker_ticks)
  timed in_namespace "$out" "$@"
  settle "$from" "$want"
  nginx_cpu=$(awk -v t="$(($(worker_ticks) - before))" -v hz="$ticks" 'BEGIN { printf "%.2f", t / hz }')
  tail -n +$((from + 1)) "$work/access.log" > "$work/run.log"
}
