# Writes a site for bench/documents.sh, as HTML (ext=.html) or Markdown
# (ext=.md): pages pN in folders of 100 (d0/p0 ... d99/p9999) under TREE,
# each with 5 sections of 10 links, in a shuffled order:
#    1  to the index, which links to every page (so that a crawler finds all)
#   25  to other pages, 8 of them to a section (#section-K)
#    2  to a section of the page itself
#    4  to pages that are not there (20 such names per folder)
#   16  to pages served on hN.docs.localhost:PORT (the HTML tree, by nginx)
#    2  to pages missing from those hosts (1 for every 25 pages of the site)
# The remote links draw on a pool (2 addresses for every 5 pages), as a real
# site's links to the outside repeat. Every fragment names a section that is
# there (a Markdown heading "Section 3" defines "section-3"). The targets of
# the dead links go to LISTS.dead, one a line, the local ones as paths below
# TREE, the remote ones whole; the remote addresses linked to, to LISTS.remote.
#   awk -v pages=N -v hosts=H -v port=P -v ext=.html -v tree=DIR -v lists=PREFIX -f documents_site.awk
# (the folders TREE/dF must be there).

function pick(n) { return int(rand() * n) }

function page_path(from, j, ext) {
  return (int(j / per) == from ? "" : "../d" int(j / per) "/") "p" j ext
}

function remote(r,   p) {
  p = (r * 7919) % pages
  return "http://h" (r % hosts + 1) ".docs.localhost:" port "/d" int(p / per) "/p" p ".html"
}

function word() { return vocabulary[pick(vocabulary_size) + 1] }

function words(n,   s, k) {
  s = word()
  for (k = 1; k < n; k++) s = s " " word()
  return s
}

function write_page(i,   f, n, k, j, g, m, link, t, file, section) {
  f = int(i / per)
  n = 0
  link[++n] = "../index" ext
  for (k = 0; k < 25; k++) {
    link[++n] = page_path(f, pick(pages), ext)
    if (k < 8) link[n] = link[n] "#section-" (pick(5) + 1)
  }
  for (k = 0; k < 2; k++) link[++n] = "#section-" (pick(5) + 1)
  for (k = 0; k < 4; k++) {
    g = pick(folders); j = pick(gone_per_folder)
    link[++n] = (g == f ? "" : "../d" g "/") "gone" j ext
    dead["d" g "/gone" j ext]
  }
  for (k = 0; k < 16; k++) { link[++n] = remote(pick(remote_pool)); asked[link[n]] }
  for (k = 0; k < 2; k++) {
    m = pick(remote_missing)
    link[++n] = "http://h" (m % hosts + 1) ".docs.localhost:" port "/gone/r" m ".html"
    dead[link[n]]; asked[link[n]]
  }
  for (k = n; k > 1; k--) {  # Fisher-Yates
    j = pick(k) + 1
    t = link[k]; link[k] = link[j]; link[j] = t
  }

  file = tree "/d" f "/p" i ext
  if (html) printf "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Page %d</title>\n</head>\n<body>\n<h1>Page %d</h1>\n", i, i > file
  else printf "# Page %d\n", i > file
  for (section = 1; section <= 5; section++) {
    if (html) printf "<h2 id=\"section-%d\">Section %d</h2>\n<p>", section, section > file
    else printf "\n## Section %d\n\n", section > file
    for (k = (section - 1) * 10 + 1; k <= section * 10; k++) {
      if (html) printf "%s <a href=\"%s\">%s</a> ", words(5), link[k], word() > file
      else printf "%s [%s](%s) ", words(5), word(), link[k] > file
    }
    printf "%s.%s\n", words(8), (html ? "</p>" : "") > file
  }
  if (html) printf "</body>\n</html>\n" > file
  close(file)
}

BEGIN {
  srand(20261209)
  per = 100
  folders = int((pages + per - 1) / per)
  gone_per_folder = 20
  remote_pool = int(pages * 2 / 5)
  remote_missing = int(pages / 25)
  if (remote_missing < hosts) remote_missing = hosts
  vocabulary_size = split("link check page section folder document address host answer request " \
    "server file anchor index report reader tree site local remote missing present found written " \
    "path name text word line column source target fragment heading paragraph list table", vocabulary, " ")

  html = ext == ".html"
  for (i = 0; i < pages; i++) write_page(i)

  file = tree "/index" ext
  if (html) printf "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Index</title>\n</head>\n<body>\n<h1>Index</h1>\n<ul>\n" > file
  else printf "# Index\n\n" > file
  for (i = 0; i < pages; i++) {
    if (html) printf "<li><a href=\"d%d/p%d.html\">Page %d</a></li>\n", int(i / per), i, i > file
    else printf "- [Page %d](d%d/p%d.md)\n", i, int(i / per), i > file
  }
  if (html) printf "</ul>\n</body>\n</html>\n" > file
  close(file)
  file = lists ".dead"
  for (t in dead) print t > file
  close(file)
  file = lists ".remote"
  for (t in asked) print t > file
}
