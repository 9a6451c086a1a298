#!/usr/bin/env bash
# The web-scale benchmark: tessaly-check next to `curl --parallel` on the same
# list, both as a user has them. A loopback nginx serves https for any
# hN.bench.localhost (names curl and the check run resolve themselves) with a
# certificate from a root made here; both tools run in a mount namespace of
# their own where the system bundle, with that root added, is bound over
# /etc/ssl/certs/ca-certificates.crt, so neither is told of a CA file.
#   hosts: every answer held back 50 ms; 2,000 addresses taking turns among 400
#          hosts (--jobs 64), then 10,000 among 2,000 hosts (--jobs 256). Wall
#          time against the floor (addresses x 50 ms / jobs), connections per
#          host and bytes per address from nginx's log, peak memory.
#   shards: the 400-host list once with --jobs 64, then as 4 shards of --jobs 16
#          side by side through GNU parallel, merged: wall time of each, hosts
#          asked by more than one shard, the merge's time and whether its
#          report is byte-equal to the single run's.
#   pages: 100 requests for a 240 KB page, then 100 for a 2 MB page, HTML made
#          of the licence texts on the machine, gzip on as nginx has it
#          (--jobs 8): the bytes nginx sent per address, next to curl with and
#          without --compressed.
#   bench/web_scale.sh [hosts|shards|pages]   (all when not given)
# TESSALY_CHECK=path/to/tessaly-check skips the build. Debian's curl reads the
# whole system bundle again for every connection it opens (its CA cache is off
# while a CA folder is set, and Debian's build sets one), some 40 ms of CPU
# each here: over 2,000 hosts that is minutes, so a curl run is stopped after
# WEB_SCALE_CURL_LIMIT seconds (150; 0 for no limit) and counted as far as it got.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
case "$which" in
  all | hosts | shards | pages) ;;
  *) echo "usage: $0 [hosts|shards|pages]" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root, for the mount namespace" >&2; exit 2; }
"$here/scripts/install-missing" nginx-light libnginx-mod-http-echo curl openssl ca-certificates time parallel

if [ -n "${TESSALY_CHECK:-}" ]; then
  check=$TESSALY_CHECK
else
  cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$here/build" --target tessaly-check >/dev/null
  check=$here/build/src/tessaly-check
fi
curl_seconds=${WEB_SCALE_CURL_LIMIT:-150}
curl_limit=()
[ "$curl_seconds" != 0 ] && curl_limit=(timeout -s INT "$curl_seconds")
echo_module=/usr/lib/nginx/modules/ngx_http_echo_module.so
[ -f "$echo_module" ] || { echo "$0: no $echo_module (libnginx-mod-http-echo)" >&2; exit 1; }

# 2,000 hosts at 5 connections each run through thousands of descriptors.
ulimit -n "$(ulimit -Hn)"

work=$(mktemp -d)
chmod 755 "$work"
# shellcheck source=bench/loopback_nginx.sh
. "$here/bench/loopback_nginx.sh"
stop() {
  stop_nginx
  rm -rf "$work"
}
trap stop EXIT

port=$(free_port 18443)

# The test root and a server certificate for *.bench.localhost, both P-256:
# what many large sites serve, and cheap enough to sign that 20,000 handshakes
# are not nginx's one worker's bottleneck.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=bench-web-scale-root \
  -keyout "$work/root.key" -out "$work/root.crt" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=bench.localhost \
  -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
openssl x509 -req -in "$work/server.csr" -CA "$work/root.crt" -CAkey "$work/root.key" -CAcreateserial -days 2 \
  -extfile <(printf 'subjectAltName=DNS:*.bench.localhost\nextendedKeyUsage=serverAuth\n') \
  -out "$work/server.crt" 2>/dev/null
cat /etc/ssl/certs/ca-certificates.crt "$work/root.crt" > "$work/ca-certificates.crt"

# Runs a command where the system bundle holds the test root too, as on a
# machine whose owner had installed it; the binding ends with the command.
in_namespace() {
  unshare -m --propagation private \
    bash -c 'mount --bind "$0" /etc/ssl/certs/ca-certificates.crt && exec "$@"' "$work/ca-certificates.crt" "$@"
}

# Pages of the licence texts on the machine, a heading per file and a
# paragraph per block of lines, up to the size asked.
texts=()
for file in /usr/share/common-licenses/* /usr/share/doc/*/copyright; do [ -f "$file" ] && texts+=("$file"); done
make_page() {
  local size=$1 title=$2
  {
    printf '<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n<title>%s</title>\n</head>\n<body>\n<h1>%s</h1>\n' \
      "$title" "$title"
    awk -v limit=$((size - 200)) '
      function escape(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); return s }
      function emit(s) { print s; written += length(s) + 1; if (written >= limit) exit }
      function flush() { if (paragraph != "") emit("<p>" escape(paragraph) "</p>"); paragraph = "" }
      FNR == 1 { flush(); name = FILENAME; sub(/^\/usr\/share\/(doc|common-licenses)\//, "", name); emit("<h2>" escape(name) "</h2>") }
      /^[ \t]*$/ { flush(); next }
      { sub(/^[ \t]+/, ""); paragraph = paragraph == "" ? $0 : paragraph " " $0 }
      END { flush() }' "${texts[@]}"
    printf '</body>\n</html>\n'
  } > "$3"
}
mkdir -p "$work/www/pages" "$work/tmp"
make_page $((240 * 1024)) "Licences of the installed software" "$work/www/pages/240k.html"
make_page $((2048 * 1024)) "Copyright notices of the installed software" "$work/www/pages/2m.html"
chmod -R a+rX "$work/www"

# One worker: the machine has two cores and the client under test needs one;
# a held-back answer is a timer in nginx's event loop, so one worker holds
# thousands of them, and its CPU time over a run is one process to read.
listen_v6=
[ -n "$ipv6" ] && listen_v6="listen [::1]:$port ssl backlog=4096;"
cat > "$work/nginx.conf" <<CONF
load_module $echo_module;
worker_processes 1;
worker_rlimit_nofile 20000;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 8192; }
http {
  log_format bench '\$connection \$host \$status \$bytes_sent \$request_length \$uri "\$http_user_agent"';
  access_log $work/access.log bench;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  keepalive_requests 1000000;
  keepalive_timeout 75s;
  default_type text/html;
  # As Debian's own nginx.conf has it, at the default level; text/html is
  # always among gzip_types (naming it again only draws a warning).
  gzip on;
  gzip_min_length 1000;
  server {
    listen 127.0.0.1:$port ssl backlog=4096;
    $listen_v6
    server_name *.bench.localhost;
    ssl_certificate $work/server.crt;
    ssl_certificate_key $work/server.key;
    ssl_session_cache shared:bench:10m;
    location /p/ {
      echo_sleep 0.05;
      echo "<!DOCTYPE html><html><head><title>Here</title></head><body><p>This page is here.</p></body></html>";
    }
    location /pages/ { root $work/www; }
  }
}
CONF
start_nginx

# The certificate verifies through the bound bundle, for curl and the check
# run alike, and not without it (so that the bundle is what the figures pay for).
probe="https://h7.bench.localhost:$port/p/7"
curl_probe=$(in_namespace curl -sS --http1.1 -o /dev/null -w '%{http_code} %{ssl_verify_result}' "$probe" 2>&1) || true
[ "$curl_probe" = "200 0" ] || { echo "$0: curl could not verify $probe in the namespace: $curl_probe" >&2; exit 1; }
outside=0
curl -sS --http1.1 -o /dev/null "$probe" 2>/dev/null || outside=$?
check_probe=$(echo "$probe" | in_namespace "$check" --format jsonl 2>&1) || true
case "$check_probe" in
  *'"status_code":200'*) ;;
  *) echo "$0: tessaly-check could not verify $probe in the namespace: $check_probe" >&2; exit 1 ;;
esac
check_outside=$(echo "$probe" | "$check" --format jsonl 2>/dev/null) || true
echo "certificate for *.bench.localhost verifies through the bound system bundle: curl 200 (verify result 0), tessaly-check 200;"
echo "  without the binding curl exits $outside and tessaly-check says $(sed -n 's/.*"reason":"\([^"]*\)".*/\1/p' <<< "$check_outside")"

warnings=0
warn() { echo "!!! WARNING: $*"; warnings=$((warnings + 1)); }

# From the run's log lines, for the requests whose user agent is curl's (or is
# not): requests, distinct connections, distinct hosts, bytes sent, request
# bytes, answers 200.
log_figures() {
  awk -v want="$1" '
    { curl = index($0, "\"curl/") > 0 }
    (want == "curl") != curl { next }
    { requests++; if (!($1 in c)) { c[$1]; conns++ } if (!($2 in h)) { h[$2]; hosts++ }
      sent += $4; asked += $5; if ($3 == 200) ok++ }
    END { printf "%d %d %d %d %d %d\n", requests, conns, hosts, sent, asked, ok }' "$work/run.log"
}

# Writes the curl config for a list: every address to /dev/null.
curl_config() {
  sed 's/.*/url = "&"\noutput = "\/dev\/null"/' "$1" > "$2"
}

hosts_round() {
  local hosts=$1 addresses=$2 jobs=$3
  local list=$work/hosts-$hosts.txt
  for ((i = 0; i < addresses; i++)); do echo "https://h$((i % hosts)).bench.localhost:$port/p/$i"; done > "$list"
  curl_config "$list" "$work/hosts-$hosts.curl"
  local floor
  floor=$(awk -v a="$addresses" -v j="$jobs" 'BEGIN { printf "%.3f", a * 0.05 / j }')
  printf '%d hosts, %d addresses, --jobs %d, 50 ms each; floor %.2f s\n' "$hosts" "$addresses" "$jobs" "$floor"

  local tool label answered requests conns seen sent asked ok stopped per
  for tool in check curl; do
    stopped=
    if [ "$tool" = check ]; then
      label="tessaly-check --jobs $jobs"
      run "$work/out" "$addresses" "$check" --jobs "$jobs" --format jsonl "$list"
      answered=$(grep -c '"status_code":200' "$work/out" || true)
      read -r requests conns seen sent asked ok < <(log_figures check)
    else
      label="curl --parallel-max $jobs"
      run "$work/out" "$addresses" "${curl_limit[@]}" curl --parallel --parallel-max "$jobs" --http1.1 -sS \
        -w '%{http_code}\n' -K "$work/hosts-$hosts.curl"
      [ "${#curl_limit[@]}" -gt 0 ] && [ "$status" = 124 ] && stopped=yes
      answered=$(grep -cx 200 "$work/out" || true)
      read -r requests conns seen sent asked ok < <(log_figures curl)
      # Stopped, curl leaves its buffered -w lines unwritten: nginx's count.
      [ -n "$stopped" ] && answered=$ok
    fi
    # A run stopped at the limit is counted over the requests it made.
    per=$addresses
    [ -n "$stopped" ] && per=$((requests > 0 ? requests : 1))
    awk -v l="$label" -v w="$wall" -v f="$floor" -v c="$conns" -v h="$seen" -v s="$sent" -v q="$asked" -v d="$per" \
      -v a="$addresses" -v p="$peak" -v u="$user" -v y="$sys" -v n="$answered" -v x="$status" -v g="$nginx_cpu" \
      -v stopped="$stopped" 'BEGIN {
        printf "  %-25s %7.2f s%s %6.2fx floor%s  %4.2f connections/host  %3.0f bytes/address received, %3.0f sent  %6.1f MiB peak  CPU %6.2f s (nginx %5.2f s)  %d/%d answered  exit %d\n",
          l, w, stopped ? "+" : "", w / f, stopped ? "+" : "", h ? c / h : 0, s / d, q / d, p / 1024, u + y, g, n, a, x }'
    if [ -n "$stopped" ]; then
      echo "    (stopped at the ${curl_seconds} s limit after $answered of $addresses addresses (as nginx logged them), $seen of $hosts hosts; WEB_SCALE_CURL_LIMIT=0 lets it finish)"
      continue
    fi
    ((answered == addresses)) || warn "$label: only $answered of $addresses addresses answered 200"
    ((ok == addresses && seen == hosts)) \
      || warn "$label: nginx logged $requests requests, $ok answered 200, over $seen hosts (expected $addresses over $hosts)"
    if [ "$tool" = check ]; then
      [ "$status" = 0 ] || warn "tessaly-check exited $status (0 expected: every address answers 200)"
      if ((answered != addresses)); then
        grep -v '"status_code":200' "$work/out" | sed 's/.*"reason":\("[^"]*"\|null\).*/\1/' | sort | uniq -c | sort -rn \
          | head -3 | sed 's/^/      /' || true
      fi
    fi
  done
}

pages_round() {
  local list=$work/pages.txt
  # Each address its own (a query nginx ignores): the check run asks an
  # address that stands twice in a list only once.
  for ((i = 0; i < 100; i++)); do echo "https://pages.bench.localhost:$port/pages/240k.html?$i"; done > "$list"
  for ((i = 0; i < 100; i++)); do echo "https://pages.bench.localhost:$port/pages/2m.html?$i"; done >> "$list"
  curl_config "$list" "$work/pages.curl"
  printf 'real page sizes, one host, gzip on: 100 x a %d-byte page, then 100 x a %d-byte page, --jobs 8\n' \
    "$(stat -c %s "$work/www/pages/240k.html")" "$(stat -c %s "$work/www/pages/2m.html")"

  local tool label answered figures
  for tool in check curl curl-compressed; do
    case $tool in
      check)
        label="tessaly-check --jobs 8"
        run "$work/out" 200 "$check" --jobs 8 --format jsonl "$list"
        answered=$(grep -c '"status_code":200' "$work/out" || true) ;;
      curl)
        label="curl --parallel-max 8"
        run "$work/out" 200 curl --parallel --parallel-max 8 --http1.1 -sS -w '%{http_code}\n' -K "$work/pages.curl"
        answered=$(grep -cx 200 "$work/out" || true) ;;
      curl-compressed)
        label="curl ... --compressed"
        run "$work/out" 200 curl --parallel --parallel-max 8 --http1.1 --compressed -sS -w '%{http_code}\n' \
          -K "$work/pages.curl"
        answered=$(grep -cx 200 "$work/out" || true) ;;
    esac
    figures=$(awk -v want="${tool%-compressed}" '
      { curl = index($0, "\"curl/") > 0 }
      (want == "curl") != curl { next }
      { if (!($1 in c)) { c[$1]; conns++ } n[$6]++; sent[$6] += $4 }
      END { printf "%.0f %.0f %d", sent["/pages/240k.html"] / n["/pages/240k.html"], sent["/pages/2m.html"] / n["/pages/2m.html"], conns }' \
      "$work/run.log")
    read -r small large conns <<< "$figures"
    printf '  %-25s 240 KB page %8d bytes/address   2 MB page %8d bytes/address   %3d connections  %5.2f s  %5.1f MiB peak  nginx CPU %5.2f s  %d/200 answered  exit %d\n' \
      "$label" "$small" "$large" "$conns" "$wall" "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "$nginx_cpu" "$answered" "$status"
    ((answered == 200)) || warn "$label: only $answered of 200 addresses answered 200"
  done
}

shards_round() {
  local hosts=400 addresses=2000 list=$work/shards.txt
  for ((i = 0; i < addresses; i++)); do echo "https://h$((i % hosts)).bench.localhost:$port/p/s$i"; done > "$list"
  printf '%d hosts, %d addresses, 50 ms each: one run against 4 shards through GNU parallel, then their merge\n' "$hosts" "$addresses"
  local conns seen _
  run "$work/whole.txt" "$addresses" "$check" --jobs 64 "$list"
  read -r _ conns seen _ _ _ < <(log_figures check)
  printf '  %-44s %6.2f s  %4.2f connections/host  %5.1f MiB peak  exit %d\n' "one run, --jobs 64" "$wall" \
    "$(awk -v c="$conns" -v h="$seen" 'BEGIN { print h ? c / h : 0 }')" "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "$status"
  rm -f "$work"/journal-*.txt
  run /dev/null "$addresses" parallel --will-cite -j 4 "$check" --jobs 16 --shard {}/4 --resume "$work/journal-{}.txt" \
    "$list" '>' /dev/null ::: 1 2 3 4
  read -r _ conns seen _ _ _ < <(log_figures check)
  # A host in two journals would be asked by two machines.
  local shared
  shared=$(for j in "$work"/journal-*.txt; do sed -n 's/.*"address":"https:\/\/\([^.]*\)\..*/\1/p' "$j" | sort -u; done \
    | sort | uniq -d | wc -l)
  printf '  %-44s %6.2f s  %4.2f connections/host  %5.1f MiB peak of one (GNU time)  %d hosts in two shards\n' \
    "4 shards x --jobs 16, GNU parallel" "$wall" "$(awk -v c="$conns" -v h="$seen" 'BEGIN { print h ? c / h : 0 }')" \
    "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "$shared"
  ((shared == 0)) || warn "$shared hosts were asked by more than one shard"
  local merge=()
  for j in 1 2 3 4; do merge+=(--merge "$work/journal-$j.txt"); done
  run "$work/merged.txt" 0 "$check" "${merge[@]}" "$list"
  local same=differs
  cmp -s "$work/merged.txt" "$work/whole.txt" && same="byte-equal to the one run's"
  printf '  %-44s %6.2f s  %5.1f MiB peak  report %s  exit %d\n' "--merge of the 4 journals" "$wall" \
    "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "$same" "$status"
  [ "$same" != differs ] || warn "the merged report differs from the one run's"
}

if [ "$which" = all ] || [ "$which" = hosts ]; then
  hosts_round 400 2000 64
  hosts_round 2000 10000 256
fi
if [ "$which" = all ] || [ "$which" = shards ]; then
  shards_round
fi
if [ "$which" = all ] || [ "$which" = pages ]; then
  pages_round
fi
if ((warnings > 0)); then
  echo "!!! $warnings warning(s) above: figures from runs that did not answer every address"
  exit 1
fi
