#!/usr/bin/env bash
# The check-run benchmark: a loopback nginx serves 2,000 addresses of one host,
# half present and half missing, and the check run judges them next to curl and
# wget doing the same work.
#   bench/checking.sh
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
addresses=2000

"$here/scripts/install-missing" nginx-light curl wget

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target bench_checking -- -j2 >/dev/null

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid=
stop() {
  if [ -n "$nginx_pid" ]; then kill -QUIT "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap stop EXIT

port=18080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done

mkdir -p "$work/www/present" "$work/tmp"
: > "$work/urls.txt"
for ((i = 0; i < addresses; i++)); do
  if ((i % 2 == 0)); then
    printf '<html><body>Page %d is here.</body></html>\n' "$i" > "$work/www/present/$i.html"
    echo "http://127.0.0.1:$port/present/$i.html" >> "$work/urls.txt"
  else
    echo "http://127.0.0.1:$port/missing/$i.html" >> "$work/urls.txt"
  fi
done
chmod -R a+rX "$work/www"

cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 256; }
http {
  log_format bench '\$connection \$status "\$http_user_agent"';
  access_log $work/access.log bench;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  keepalive_requests 1000000;
  keepalive_timeout 120s;
  default_type text/html;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g 'daemon on;' 2>>"$work/error.log"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
nginx_pid=$(cat "$work/nginx.pid")

QT_QPA_PLATFORM=offscreen "$build/bench/bench_checking" "$work/urls.txt"
echo "nginx saw the check run on $(grep Tessaly "$work/access.log" | awk '{print $1}' | sort -u | wc -l) connection(s) across the rounds above (one per round is the target)"
