#!/usr/bin/env bash
# The documents benchmark: tessaly-check reading HTML and Markdown files.
#   extract: the HTML and Markdown files of /usr/share/doc (those compressed
#            with gzip decompressed) copied to a folder, then `tessaly-check
#            --dump` over them, which reads every link and asks nothing: MB/s
#            next to `xmllint --html --noout` on the same HTML files and a
#            plain read of the same bytes (cat), best of 3 each.
#   check:   a generated site of DOCUMENTS_PAGES HTML pages (10,000) of 50
#            links each (bench/documents_site.awk says which), and a Markdown
#            site of a fifth as many pages made the same way; a loopback nginx
#            serves the HTML tree as h1 ... h8.docs.localhost, the hosts its
#            remote links name. Each tool checks the tree on disk as a user
#            would have it: tessaly-check, linkinator (which serves the folder
#            to itself), hyperlink, LinkChecker, and on the Markdown site
#            markdown-link-check and tessaly-check. Wall time, CPU, peak
#            memory (GNU time), requests and connections per host (nginx's
#            log) and the dead links each reported against those the
#            generator made; then extraction's share of the check's CPU:
#            the samples `perf record` takes of the check run whose stack is
#            in reading a document or finding its links (reading the file,
#            HtmlLinks, MarkdownLinks, SitemapLinks), over all its samples;
#            and, beside it, the --dump run's CPU over the check run's (the
#            dump also resolves every link and writes a line for each).
#   bench/documents.sh [extract|check]   (both when not given)
# Every tool runs in a mount namespace of its own where a hosts file naming
# the *.docs.localhost hosts is bound over /etc/hosts (Node and Python ask the
# system's resolver, which would send them to DNS; curl resolves them
# itself). A peer still running after DOCUMENTS_PEER_LIMIT seconds (600) is
# stopped and reported as such. TESSALY_CHECK=path/to/tessaly-check skips the
# build; the npm peers are installed, at the versions named below, in
# build/bench-peers.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
case "$which" in
  all | extract | check) ;;
  *) echo "usage: $0 [extract|check]" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root, for the mount namespace" >&2; exit 2; }
"$here/scripts/install-missing" nginx-light libxml2-utils linkchecker curl time linux-perf
command -v npm >/dev/null || "$here/scripts/install-missing" nodejs npm

if [ -n "${TESSALY_CHECK:-}" ]; then
  check=$TESSALY_CHECK
else
  cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$here/build" --target tessaly-check >/dev/null
  check=$here/build/src/tessaly-check
fi
peers=$here/build/bench-peers
peer_versions="linkinator@7.6.1 markdown-link-check@3.15.0 hyperlink@5.0.4"
if [ "$(cat "$peers/versions" 2>/dev/null)" != "$peer_versions" ]; then
  # shellcheck disable=SC2086 # one package a word
  npm install --prefix "$peers" --no-audit --no-fund --loglevel=error $peer_versions >/dev/null
  echo "$peer_versions" > "$peers/versions"
fi
limit=${DOCUMENTS_PEER_LIMIT:-600}
pages=${DOCUMENTS_PAGES:-10000}
md_pages=$((pages / 5))
hosts=8

work=$(mktemp -d)
chmod 755 "$work"  # LinkChecker run as root reads as nobody
# shellcheck source=bench/loopback_nginx.sh
. "$here/bench/loopback_nginx.sh"
stop() {
  stop_nginx
  rm -rf "$work"
}
trap stop EXIT
cd "$work"

{
  cat /etc/hosts
  for ((h = 1; h <= hosts; h++)); do echo "127.0.0.1 h$h.docs.localhost"; done
} > "$work/hosts"
in_namespace() {
  unshare -m --propagation private bash -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$work/hosts" "$@"
}

warnings=0
warn() { echo "!!! WARNING: $*"; warnings=$((warnings + 1)); }

mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
bytes_of() { cat "$@" | wc -c; }

# The best (shortest wall time) of 3 timed runs: sets best_wall and best_cpu.
best_of_3() {
  local out=$1; shift
  best_wall=; best_cpu=
  for _ in 1 2 3; do
    timed command "$out" "$@"
    if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then
      best_wall=$wall; best_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    fi
  done
}

extract_round() {
  local docs=$work/docs
  mkdir -p "$docs"
  (
    cd /usr/share/doc
    find . -type f \( -name '*.html' -o -name '*.htm' -o -name '*.xhtml' -o -name '*.md' -o -name '*.markdown' \) \
      -print0 | xargs -0 cp --parents -t "$docs"
    find . -type f \( -name '*.html.gz' -o -name '*.htm.gz' -o -name '*.md.gz' -o -name '*.markdown.gz' \) \
      -print0 | while IFS= read -r -d '' file; do
      [ -e "$docs/${file%.gz}" ] || { mkdir -p "$docs/$(dirname "$file")"; zcat "$file" > "$docs/${file%.gz}"; }
    done
  )
  local html=() markdown=() gzipped
  mapfile -d '' html < <(find "$docs" -type f \( -name '*.html' -o -name '*.htm' -o -name '*.xhtml' \) -print0 | sort -z)
  mapfile -d '' markdown < <(find "$docs" -type f \( -name '*.md' -o -name '*.markdown' \) -print0 | sort -z)
  gzipped=$(find /usr/share/doc -type f \( -name '*.html.gz' -o -name '*.htm.gz' -o -name '*.md.gz' -o -name '*.markdown.gz' \) | wc -l)
  local html_bytes markdown_bytes
  html_bytes=$(bytes_of "${html[@]}")
  markdown_bytes=$(bytes_of "${markdown[@]}")
  printf 'the HTML and Markdown files of /usr/share/doc (%d of them decompressed from .gz):\n' "$gzipped"
  printf '  %d HTML files, %s MB; %d Markdown files, %s MB; %s MB in all\n' "${#html[@]}" "$(mb "$html_bytes")" \
    "${#markdown[@]}" "$(mb "$markdown_bytes")" "$(mb $((html_bytes + markdown_bytes)))"
  cat "${html[@]}" "${markdown[@]}" > /dev/null  # in the page cache for every run alike

  local read_html read_all lint ours_html ours_all links
  best_of_3 /dev/null cat "${html[@]}"
  read_html=$best_wall
  best_of_3 /dev/null cat "${html[@]}" "${markdown[@]}"
  read_all=$best_wall
  best_of_3 /dev/null xmllint --html --noout "${html[@]}"
  lint=$best_wall; local lint_cpu=$best_cpu
  best_of_3 "$work/dump-html.txt" "$check" --dump "${html[@]}"
  ours_html=$best_wall; local ours_html_cpu=$best_cpu ours_html_peak=$peak ours_html_status=$status
  best_of_3 "$work/dump-all.txt" "$check" --dump "$docs"
  ours_all=$best_wall; local ours_all_cpu=$best_cpu ours_all_peak=$peak ours_all_status=$status
  links=$(wc -l < "$work/dump-all.txt")

  awk -v hb="$html_bytes" -v ab="$((html_bytes + markdown_bytes))" -v rh="$read_html" -v ra="$read_all" \
    -v l="$lint" -v lc="$lint_cpu" -v oh="$ours_html" -v ohc="$ours_html_cpu" -v oa="$ours_all" -v oac="$ours_all_cpu" \
    -v ohp="$ours_html_peak" -v oap="$ours_all_peak" -v n="$links" 'BEGIN {
      printf "  %-38s %7.3f s  %8.1f MB/s\n", "cat, the HTML files", rh, hb / 1e6 / rh
      printf "  %-38s %7.3f s  %8.1f MB/s  CPU %6.2f s\n", "xmllint --html --noout, the HTML", l, hb / 1e6 / l, lc
      printf "  %-38s %7.3f s  %8.1f MB/s  CPU %6.2f s  %6.1f MiB peak  %.2f x xmllint (target <= 2; CPU %.2f x)  %.1f x cat\n",
        "tessaly-check --dump, the HTML", oh, hb / 1e6 / oh, ohc, ohp / 1024, oh / l, ohc / lc, oh / rh
      printf "  %-38s %7.3f s  %8.1f MB/s\n", "cat, all", ra, ab / 1e6 / ra
      printf "  %-38s %7.3f s  %8.1f MB/s  CPU %6.2f s  %6.1f MiB peak  %.1f x cat   %d lines of links\n",
        "tessaly-check --dump, the folder", oa, ab / 1e6 / oa, oac, oap / 1024, oa / ra, n
    }'
  if [ "$ours_html_status" != 0 ] || [ "$ours_all_status" != 0 ]; then
    warn "tessaly-check --dump exited $ours_html_status and $ours_all_status (0 expected)"
  fi
}

# A site generated into $work/TREE, its dead targets in TREE.dead and its
# remote addresses in TREE.remote, each sorted.
make_site() {
  local tree=$1 ext=$2 count=$3
  for ((f = 0; f < (count + 99) / 100; f++)); do mkdir -p "$work/$tree/d$f"; done
  awk -v pages="$count" -v hosts="$hosts" -v port="$port" -v ext="$ext" -v tree="$work/$tree" -v lists="$work/$tree" \
    -f "$here/bench/documents_site.awk"
  sort -o "$work/$tree.dead" "$work/$tree.dead"
  sort -o "$work/$tree.remote" "$work/$tree.remote"
  chmod -R a+rX "$work/$tree"
}

# One tool's check of a site: its figures as a row of the site's table, in
# rows[] (the first row, tessaly-check's, is what the ratios are against).
#   check_tool LABEL TOOL TREE COMMAND...   (TOOL as bench/documents_dead.py names it)
rows=()
check_tool() {
  local label=$1 tool=$2 tree=$3; shift 3
  local remote stopped=
  remote=$(wc -l < "$work/$tree.remote")
  run "$work/out" "$remote" timeout -k 10 "$limit" "$@"
  case $status in 124 | 137) stopped=yes ;; esac  # timeout's TERM, or its KILL 10 s later
  # A tool stopped may have written no report, or half of one: what it holds counts.
  python3 "$here/bench/documents_dead.py" "$tool" "$work/out" "$tree" > "$work/dead-$tool" 2>/dev/null || {
    [ -n "$stopped" ] || warn "$label: its report could not be read ($(head -c 300 "$work/out"))"
  }
  local reports found wrong
  reports=$(wc -l < "$work/dead-$tool")
  found=$(sort -u "$work/dead-$tool" | comm -12 "$work/$tree.dead" - | wc -l)
  wrong=$(sort -u "$work/dead-$tool" | comm -13 "$work/$tree.dead" - | wc -l)
  # Requests, the remote addresses of the site among those asked, connections, hosts.
  local requests addresses connections seen
  read -r requests addresses connections seen < <(awk -v port="$port" '
    FNR == NR { remote[$0]; next }
    { requests++; address = "http://" $2 ":" port $5
      if ((address in remote) && !(address in a)) { a[address]; addresses++ }
      if (!($1 in c)) { c[$1]; connections++ } if (!($2 in h)) { h[$2]; hosts++ } }
    END { printf "%d %d %d %d\n", requests, addresses, connections, hosts }' "$work/$tree.remote" "$work/run.log")
  rows+=("$label|$wall|$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')|$peak|$requests|$addresses|$remote|$connections|$seen|$found|$(wc -l < "$work/$tree.dead")|$reports|$wrong|$status|$stopped|$nginx_cpu")
  last_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
  if [ -n "$stopped" ]; then return; fi
  ((found == $(wc -l < "$work/$tree.dead") && wrong == 0)) \
    || warn "$label found $found of $(wc -l < "$work/$tree.dead") dead targets, and $wrong that are not dead"
  ((addresses == remote)) || warn "$label asked $addresses of the site's $remote remote addresses"
}

# The rows, with ratios against the first.
print_rows() {
  printf '  %-34s %8s %6s  %8s %6s  %8s %6s  %9s %9s  %10s  %-19s %8s  %s\n' tool "wall s" "x" "CPU s" "x" "peak MiB" "x" \
    requests "/address" "conns/host" "dead targets found" "reports" "exit (nginx CPU s)"
  printf '%s\n' "${rows[@]}" | awk -F'|' -v limit="$limit" '
    NR == 1 { w = $2; c = $3; p = $4 }
    { stopped = $15 == "yes"
      printf "  %-34s %7.2f%s %6.2f  %8.2f %6.2f  %8.1f %6.2f  %9d %9.2f  %10.2f  %8d of %-6d %8d  %d (%.2f)%s\n",
        $1, $2, stopped ? "+" : " ", $2 / w, $3, $3 / c, $4 / 1024, $4 / p, $5, $7 ? $5 / $7 : 0, $9 ? $8 / $9 : 0,
        $10, $11, $12, $14, $16, (stopped ? "  stopped at the " limit " s limit" : "") ($13 ? "  " $13 " reported dead that are not" : "") }'
  rows=()
}

check_round() {
  port=$(free_port 18600)
  make_site html .html "$pages"
  make_site md .md "$md_pages"
  mkdir -p "$work/tmp"
  local listen_v6=
  [ -n "$ipv6" ] && listen_v6="listen [::1]:$port backlog=4096;"
  cat > "$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 4096; }
http {
  log_format bench '\$connection \$host \$status \$request_method \$uri';
  access_log $work/access.log bench;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  keepalive_requests 1000000;
  keepalive_timeout 75s;
  default_type text/html;
  server {
    listen 127.0.0.1:$port backlog=4096;
    $listen_v6
    server_name *.docs.localhost;
    root $work/html;
  }
}
CONF
  start_nginx
  local probe
  probe=$(in_namespace curl -sS -o /dev/null -w '%{http_code}' "http://h$hosts.docs.localhost:$port/index.html" 2>&1) || true
  [ "$probe" = 200 ] || { echo "$0: nginx does not answer on h$hosts.docs.localhost:$port: $probe" >&2; exit 1; }
  in_namespace getent hosts "h$hosts.docs.localhost" | grep -q '^127\.0\.0\.1 ' \
    || { echo "$0: the namespace's hosts file does not name h$hosts.docs.localhost" >&2; exit 1; }

  # Its limit of ten requests a second per host lifted, as bench_cli does, and
  # fragments checked (a plug-in it has off by default), as the others do.
  printf '[checking]\nmaxrequestspersecond=100000\n[AnchorCheck]\n' > "$work/linkcheckerrc"
  local bin=$peers/node_modules/.bin links
  links=$(find html -name '*.html' -exec cat {} + | grep -o '<a href=' | wc -l)
  printf 'HTML site: %d pages in %s MB, %d links, %d remote addresses on %d hosts, %d dead targets (%d remote)\n' \
    "$((pages + 1))" "$(mb "$(find html -type f -exec cat {} + | wc -c)")" "$links" "$(wc -l < html.remote)" "$hosts" \
    "$(wc -l < html.dead)" "$(grep -c '^http' html.dead)"
  check_tool "tessaly-check html/" tessaly-check html "$check" html
  local check_cpu=$last_cpu
  # Extraction's share, sampled right after the check's own timed run, as
  # that run found the machine (the site in the page cache), before the
  # peers churn a gigabyte of memory and the cache: the median of three
  # runs, the stacks as DWARF unwinds them (the build keeps no frame
  # pointers).
  local shares=() share_line=
  for _ in 1 2 3; do
    if in_namespace perf record -q -F 999 --call-graph dwarf,32768 -o "$work/check.perf" "$check" html \
      > /dev/null 2> "$work/perf.err"; [ -s "$work/check.perf" ]; then
      shares+=("$(perf script -i "$work/check.perf" -F ip,sym 2> /dev/null | awk 'BEGIN { RS = "" }
        { samples++ }
        /DocumentFiles::readBounded|HtmlLinks::read[\n( ]|MarkdownLinks::readBounded|SitemapLinks::read/ { extracting++ }
        /DocumentFiles::readBounded/ { reading++ }
        END { if (samples) printf "%.1f %d %d %.1f %.1f\n", 100 * extracting / samples, extracting, samples,
                100 * reading / samples, 100 * (extracting - reading) / samples }')")
      rm -f "$work/check.perf" "$work/check.perf.old"
      [ -n "${shares[-1]}" ] || { unset 'shares[-1]'; warn "perf took no samples of the check run"; break; }
    else
      warn "perf could not sample the check run: $(head -c 300 "$work/perf.err")"
      break
    fi
  done
  if ((${#shares[@]} == 3)); then
    local in_order
    in_order=$(printf '%s\n' "${shares[@]}" | awk '{ printf "%s%.1f", (NR > 1 ? ", " : ""), $1 }')
    share_line=$(printf '%s\n' "${shares[@]}" | sort -n | awk -v in_order="$in_order" 'NR == 2 { m = $0 } END {
      split(m, f, " ")
      printf "extraction: %.1f %% of the check run'"'"'s CPU samples, the median of 3 runs (%d of %d; reading the files %.1f %%, finding the links %.1f %%; the 3 runs %s %%; target < 20 %%)\n",
        f[1], f[2], f[3], f[4], f[5], in_order }')
  fi
  check_tool "linkinator --recurse (own server)" linkinator html \
    "$bin/linkinator" html --recurse --check-fragments --format json
  check_tool "hyperlink -r index.html" hyperlink html "$bin/hyperlink" --root html -r html/index.html
  check_tool "linkchecker --check-extern html/" linkchecker html \
    linkchecker --config "$work/linkcheckerrc" --check-extern --no-status --no-warnings -o csv html/
  print_rows

  links=$(find md -name '*.md' -exec cat {} + | grep -o '](' | wc -l)
  printf 'Markdown site: %d pages in %s MB, %d links, %d remote addresses on %d hosts, %d dead targets (%d remote)\n' \
    "$((md_pages + 1))" "$(mb "$(find md -type f -exec cat {} + | wc -c)")" "$links" "$(wc -l < md.remote)" "$hosts" \
    "$(wc -l < md.dead)" "$(grep -c '^http' md.dead)"
  check_tool "tessaly-check md/" tessaly-check md "$check" md
  check_tool "markdown-link-check md/" markdown-link-check md "$bin/markdown-link-check" md
  print_rows

  [ -n "$share_line" ] && echo "$share_line"
  timed command "$work/dump.txt" "$check" --dump html
  awk -v d="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" -v c="$check_cpu" -v w="$wall" 'BEGIN {
    printf "tessaly-check --dump html took %.2f s of CPU (%.2f s wall), %.0f %% of the check run'"'"'s %.2f s\n",
      d, w, 100 * d / c, c }'
}

if [ "$which" = all ] || [ "$which" = extract ]; then
  extract_round
fi
if [ "$which" = all ] || [ "$which" = check ]; then
  check_round
fi
if ((warnings > 0)); then
  echo "!!! $warnings warning(s) above"
  exit 1
fi
