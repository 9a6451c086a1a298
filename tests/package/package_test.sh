#!/usr/bin/env bash
# The Debian package as a user gets it: made by `scripts/tessaly package`,
# installed with apt-get, the installed command run on a short list against a
# loopback nginx, the installed window started (the smoke test under Xvfb,
# then once more to see it open the hand pointer and a skin from its data
# folder), and removed again.
#   package_test.sh <source folder> <scratch folder> <tst_window_smoke>
# Skipped (77) without root, or where a tessaly package is installed already:
# the test ends by removing it.
set -euo pipefail

source=$1 scratch=$2 smoke=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
if dpkg-query -W -f='${Status}' tessaly 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIP: a tessaly package is installed already, and this test would remove it"
  exit 77
fi
for path in /usr/bin/tessaly /usr/bin/tessaly-check /usr/share/tessaly; do
  [ -e "$path" ] && { echo "SKIP: $path is there already (an install not from the package?), and this test would remove it"; exit 77; }
done

rm -rf "$scratch"
mkdir -p "$scratch/home"
installed= nginx_pid= skin=/usr/share/tessaly/x/o.cjs
finish() {
  set +e  # every step of the clean-up is tried, whatever fails
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  rm -rf "$(dirname "$skin")"
  [ -n "$installed" ] && apt-get remove -y -qq --purge tessaly >/dev/null
  return 0
}
trap finish EXIT

echo "== scripts/tessaly package"
"$source/scripts/tessaly" package "$scratch/dist" >"$scratch/package.log" 2>&1 \
  || { tail -40 "$scratch/package.log"; fail "the package was not made"; }
# Errors fail the package itself; a warning its lintian run gave must be one
# the README explains.
while read -r tag; do
  grep -qw -- "$tag" "$source/README.md" || fail "lintian warns $tag, which the README does not explain"
done < <(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$scratch/package.log" | sort -u)

echo "== apt-get install ./tessaly_*.deb"
installed=yes  # removing a package that did not get installed does no harm
(cd "$scratch/dist" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./tessaly_*.deb >/dev/null)
# One version in the changelog, the programs and the metainfo.
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
[ "$(tessaly-check --version)" = "tessaly-check $version" ] || fail "tessaly-check --version: $(tessaly-check --version)"
grep -qF "<release version=\"$version\"" /usr/share/metainfo/example.velmora.tessaly.metainfo.xml \
  || fail "the metainfo's newest release is not $version"
[ "$(command -v tessaly-check)" = /usr/bin/tessaly-check ] || fail "tessaly-check is not /usr/bin's"
appstreamcli validate --no-net /usr/share/metainfo/example.velmora.tessaly.metainfo.xml || fail "appstreamcli validate"
desktop-file-validate /usr/share/applications/tessaly.desktop || fail "desktop-file-validate"

echo "== a short check through the installed command"
port=18180
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
mkdir -p "$scratch/nginx"
cat >"$scratch/nginx/nginx.conf" <<CONF
pid $scratch/nginx/nginx.pid;
error_log $scratch/nginx/error.log;
events {}
http {
  access_log off;
  client_body_temp_path $scratch/nginx/body; proxy_temp_path $scratch/nginx/proxy;
  fastcgi_temp_path $scratch/nginx/fastcgi; uwsgi_temp_path $scratch/nginx/uwsgi; scgi_temp_path $scratch/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    location = /found { return 200 "here\n"; }
    location / { return 404; }
  }
}
CONF
/usr/sbin/nginx -e "$scratch/nginx/error.log" -c "$scratch/nginx/nginx.conf" -g "daemon off; master_process off;" &
nginx_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
printf 'http://127.0.0.1:%s/found\nhttp://127.0.0.1:%s/gone\n' "$port" "$port" >"$scratch/list.txt"
status=0
(cd "$scratch" && tessaly-check --valid valid.txt --invalid invalid.txt list.txt >report.txt 2>summary.txt) || status=$?
[ "$status" = 1 ] || fail "tessaly-check ended with $status, not 1 (an invalid address): $(cat "$scratch/summary.txt")"
[ "$(cut -f1,4 "$scratch/report.txt")" = "$(printf 'valid\tok\ninvalid\tnot-found')" ] || fail "report: $(cat "$scratch/report.txt")"
[ "$(tr -d '\r' <"$scratch/valid.txt")" = "http://127.0.0.1:$port/found" ] || fail "valid file: $(cat "$scratch/valid.txt")"

echo "== the installed window"
HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config xvfb-run -a -s "-screen 0 1280x1024x24" "$smoke" /usr/bin/tessaly || fail "the window's smoke test"
# Its hand pointer comes from the data folder, and so does a skin placed there
# (the package brings one to choose, not switched on).
mkdir -p "$(dirname "$skin")"
cp /usr/share/tessaly/skins/harbour.qss "$skin"
HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config QT_QPA_PLATFORM=offscreen strace -f -qq -e trace=openat -o "$scratch/opens.txt" /usr/bin/tessaly &
window=$!
# A successful open of that file: its line ends in a descriptor, not -1.
opened() { grep -qE "\"${1//./\\.}\", .*\) = [0-9]+\$" "$scratch/opens.txt" 2>/dev/null; }
for _ in $(seq 600); do
  opened /usr/share/tessaly/HAND-M.CUR && opened "$skin" && break
  sleep 0.1
done
pkill -TERM -P "$window" || true  # the window; strace ends with it
wait "$window" || true
opened /usr/share/tessaly/HAND-M.CUR || fail "the window did not open its hand pointer"
opened "$skin" || fail "the window did not open the skin in its data folder"
rm -rf "$(dirname "$skin")"

echo "== apt-get remove"
apt-get remove -y -qq --purge tessaly >/dev/null
installed=
[ ! -e /usr/bin/tessaly ] && [ ! -e /usr/share/tessaly ] || fail "files left after removal"
echo "PASS"
