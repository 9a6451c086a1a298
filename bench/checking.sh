#!/usr/bin/env bash
# The check-run benchmark: a loopback nginx serves 2,000 addresses of one host,
# half present and half missing, and the check run judges them next to curl and
# wget doing the same work. Then the same over https, with a certificate from a
# root made here, in three lists: 600 small pages of one host, 300 small pages
# over 50 host names taking turns (h1.localhost ... h50.localhost, which curl
# and the check run resolve themselves; wget reads them from a hosts file
# bound over /etc/hosts in a mount namespace of its own), and 150 requests for
# a 240 KB page. All three trust one CA file: the system bundle plus that root,
# so that the cost of the real bundle is in every figure.
#   bench/checking.sh [plain|tls]   (both when not given)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
addresses=2000

which=${1:-all}
"$here/scripts/install-missing" nginx-light curl wget openssl ca-certificates

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

tls_port=$((port + 1))
while (exec 3<>"/dev/tcp/127.0.0.1/$tls_port") 2>/dev/null; do tls_port=$((tls_port + 1)); done

# The test root, and a server certificate from it for localhost and h1 ... h50.
hosts=50
names="DNS:localhost"
for ((h = 1; h <= hosts; h++)); do names="$names,DNS:h$h.localhost"; done
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=bench-root -keyout "$work/root.key" \
  -out "$work/root.crt" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout "$work/server.key" -out "$work/server.csr" 2>/dev/null
openssl x509 -req -in "$work/server.csr" -CA "$work/root.crt" -CAkey "$work/root.key" -CAcreateserial -days 2 \
  -extfile <(echo "subjectAltName=$names") -out "$work/server.crt" 2>/dev/null
cat /etc/ssl/certs/ca-certificates.crt "$work/root.crt" > "$work/ca.crt"
{ cat /etc/hosts; for ((h = 1; h <= hosts; h++)); do echo "127.0.0.1 h$h.localhost"; done; } > "$work/hosts"

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
head -c $((180 * 1024)) /dev/urandom | base64 -w 100 > "$work/www/present/large.html"  # 240 KB of text
: > "$work/one-host.txt"; : > "$work/many-hosts.txt"; : > "$work/large-pages.txt"
for ((i = 0; i < 600; i++)); do
  if ((i % 2 == 0)); then echo "https://localhost:$tls_port/present/$i.html"; else echo "https://localhost:$tls_port/missing/$i.html"; fi
done >> "$work/one-host.txt"
for ((i = 0; i < 300; i++)); do
  host="h$((i % hosts + 1)).localhost"
  if ((i % 2 == 0)); then echo "https://$host:$tls_port/present/$i.html"; else echo "https://$host:$tls_port/missing/$i.html"; fi
done >> "$work/many-hosts.txt"
for ((i = 0; i < 150; i++)); do echo "https://localhost:$tls_port/present/large.html"; done >> "$work/large-pages.txt"
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
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/server.crt;
    ssl_certificate_key $work/server.key;
    ssl_session_cache shared:bench:10m;
    root $work/www;
  }
}
CONF
/usr/sbin/nginx -c "$work/nginx.conf" -p "$work" -g 'daemon on;' 2>>"$work/error.log"
for _ in $(seq 50); do [ -s "$work/nginx.pid" ] && break; sleep 0.1; done
nginx_pid=$(cat "$work/nginx.pid")

# The connections nginx served to a user agent since a line of its log.
connections_since() {
  tail -n +"$2" "$work/access.log" | grep "$1" | awk '{print $1}' | sort -u | wc -l
}
log_line() { echo $(($(wc -l < "$work/access.log") + 1)); }
if [ "$which" != tls ]; then
  from=$(log_line)
  QT_QPA_PLATFORM=offscreen "$build/bench/bench_checking" "$work/urls.txt"
  echo "nginx saw the check run on $(connections_since Tessaly "$from") connection(s) across the rounds above (one per round is the target), wget on $(connections_since Wget "$from")"
fi
if [ "$which" != plain ]; then
  for list in one-host many-hosts large-pages; do
    from=$(log_line)
    QT_QPA_PLATFORM=offscreen "$build/bench/bench_checking" --list "$list" --ca-file "$work/ca.crt" \
      --hosts "$work/hosts" "$work/$list.txt"
    echo "  nginx saw wget on $(connections_since Wget "$from") connection(s) across the rounds above"
  done
fi
