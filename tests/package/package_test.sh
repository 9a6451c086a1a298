#!/usr/bin/env bash
# The Debian packages as a user gets them: made by `scripts/tessaly package`;
# tessaly-check installed alone with apt-get, with nothing of Qt Gui, Widgets
# or X to depend on, and run on a short list against a loopback nginx; the
# window's package, tessaly, installed beside it and started (the smoke test
# under Xvfb, then once more to see it open the hand pointer and a skin from
# its data folder); each removed again, the command outliving the window.
#   package_test.sh <source folder> <scratch folder> <tst_window_smoke>
# Skipped (77) without root, or where a tessaly or tessaly-check package is
# installed already: the test ends by removing them.
set -euo pipefail

source=$1 scratch=$2 smoke=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
for package in tessaly tessaly-check; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP: a $package package is installed already, and this test would remove it"
    exit 77
  fi
done
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
  # One at a time: apt-get removes nothing when it knows one of the names not.
  if [ -n "$installed" ]; then
    for package in tessaly tessaly-check; do apt-get remove -y -qq --purge "$package" >/dev/null 2>&1; done
  fi
  return 0
}
trap finish EXIT

echo "== scripts/tessaly package"
"$source/scripts/tessaly" package "$scratch/dist" >"$scratch/package.log" 2>&1 \
  || { tail -40 "$scratch/package.log"; fail "the package was not made"; }
# Errors fail the package itself; a warning its lintian run gave must be one
# docs/development.md explains.
while read -r tag; do
  grep -qw -- "$tag" "$source/docs/development.md" || fail "lintian warns $tag, which docs/development.md does not explain"
done < <(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$scratch/package.log" | sort -u)

# The command line needs no display: neither its package's dependencies nor
# theirs, all the way down, name Qt Gui, Widgets or an X or Wayland library
# (read from the package and apt's lists, since this machine has them all
# installed for the window anyway), and it does not depend on the window.
window_libraries='libqt6gui6|libqt6widgets6|libx11-6|libxcb1|libwayland-client0|libgl1|libegl1|libopengl0'
depends=$(dpkg-deb -f "$scratch"/dist/tessaly-check_*.deb Depends)
echo "tessaly-check Depends: $depends"
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*)//; s/[[:space:]]//g' | grep .)
grep -qx tessaly <<<"$names" && fail "tessaly-check depends on the window's package"
pulled=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
  --no-enhances $names | grep -v '^ ' | sort -u) || fail "apt-cache depends $names"
grep -qx libqt6core6 <<<"$pulled" || fail "apt-cache found nothing under tessaly-check's dependencies: $pulled"
grep -Ex "$window_libraries" <<<"$pulled" && fail "tessaly-check pulls in the libraries above"
dpkg-deb -f "$scratch"/dist/tessaly_*.deb Depends | grep -qE 'libqt6widgets6' \
  || fail "the window's package does not depend on Qt Widgets: the check above would pass on anything"

echo "== apt-get install ./tessaly-check_*.deb"
installed=yes  # removing a package that did not get installed does no harm
(cd "$scratch/dist" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./tessaly-check_*.deb >/dev/null)
for path in /usr/bin/tessaly /usr/share/tessaly /usr/share/man/man1/tessaly.1.gz; do
  [ ! -e "$path" ] || fail "installing tessaly-check installed the window's $path"
done
ldd /usr/bin/tessaly-check | grep -E '(libQt6Gui|libQt6Widgets|libX11|libxcb|libwayland-[a-z]+|libGLX?|libEGL|libOpenGL)\.so' \
  && fail "the installed tessaly-check loads the libraries above"
# One version in the changelog, the command and (below) the window's metainfo.
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
[ "$(tessaly-check --version)" = "tessaly-check $version" ] || fail "tessaly-check --version: $(tessaly-check --version)"
[ "$(command -v tessaly-check)" = /usr/bin/tessaly-check ] || fail "tessaly-check is not /usr/bin's"
for path in /usr/share/man/man1/tessaly-check.1.gz /usr/share/bash-completion/completions/tessaly-check; do
  [ -e "$path" ] || fail "tessaly-check brings no $path"
done

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

echo "== apt-get install ./tessaly_*.deb"
(cd "$scratch/dist" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./tessaly_*.deb >/dev/null)
grep -qF "<release version=\"$version\"" /usr/share/metainfo/example.velmora.tessaly.metainfo.xml \
  || fail "the metainfo's newest release is not $version"
[ -e /usr/share/man/man1/tessaly.1.gz ] || fail "the window's package brings no manual page"
appstreamcli validate --no-net /usr/share/metainfo/example.velmora.tessaly.metainfo.xml || fail "appstreamcli validate"
desktop-file-validate /usr/share/applications/tessaly.desktop || fail "desktop-file-validate"

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
[ ! -e /usr/bin/tessaly ] && [ ! -e /usr/share/tessaly ] || fail "the window's files left after its removal"
[ "$(tessaly-check --version)" = "tessaly-check $version" ] || fail "removing the window took the command line with it"
apt-get remove -y -qq --purge tessaly-check >/dev/null
installed=
[ ! -e /usr/bin/tessaly-check ] || fail "tessaly-check left after its removal"
echo "PASS"
