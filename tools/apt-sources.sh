# shellcheck shell=sh
# The machine's own apt sources, read as apt reads them, and the suites whose
# index could not be fetched: for tools/install-prereqs.sh and
# tools/guest/image.sh, so that a mirror that is out of step for a day (an
# index whose size or hash does not match its Release file) stops neither.
# Sourced; POSIX sh. Honours APT_CONFIG, as apt does.
#
#   apt_update_log <log> [<apt-get option>...]
#       apt-get update, its output shown and kept in <log>; its status.
#   apt_failed_suites <log>
#       the sources' suites with an index that update could not fetch, one
#       "<uri> <suite>" a line (the URI without a trailing slash).
#   apt_failed_lines <log>
#       apt's own lines for them: "Err:..." and the reason under it, joined.
#   apt_failed_indexes <log>
#       those lines without "Err:<n>", on one line, for a message.
#   apt_suites_named <suites-file>
#       the suites of apt_failed_suites on one line: "<suite> (<uri>), ...".
#   apt_sources_without <dir> <suites-file>
#       a copy of the machine's sources in <dir> (sources.list and
#       sources.list.d/) without the suites listed in <suites-file>; the
#       machine's own files stay as they are.
#   apt_sources_of_release <dir> <code name> <other code name>
#       a copy of the machine's sources in <dir>, as above, of the suites of
#       the release <code name> only (the suite of that name and those of
#       "<code name>-..."), named for the other release instead: another
#       Debian release from the same mirrors.
#   apt_use_sources <dir>
#       the apt-get options that read the sources from <dir> instead, and keep
#       the machine's package cache files as they are.

# The machine's sources: the main list and the folder of parts.
apt_source_files() {
  eval "$(apt-config shell apt_main Dir::Etc::sourcelist/f apt_parts Dir::Etc::sourceparts/d)"
  [ ! -f "${apt_main:-}" ] || echo "$apt_main"
  apt_parts=${apt_parts%/}
  for part in "${apt_parts:-/nonexistent}"/*.list "${apt_parts:-/nonexistent}"/*.sources; do
    [ ! -f "$part" ] || echo "$part"
  done
}

# apt_sources_awk <mode> <suites-file> <file> [<code name> <other>]: the one
# parser of both formats ("deb [options] uri suite components" lines; deb822
# stanzas with URIs: and Suites: fields). Mode "pairs" prints each source's
# "<uri> <suite>"; mode "filter" prints the file without the suites of
# <suites-file>, a one-line entry commented out, a stanza's Suites: field
# shortened (the stanza dropped when none is left); mode "release" prints it
# as "filter" does, but keeps only the suites of the release <code name>,
# renamed for the other.
apt_sources_awk() {
  awk -v mode="$1" -v left_out="$2" -v from="${4:-}" -v to="${5:-}" '
    function norm(uri) { sub(/\/+$/, "", uri); return uri }
    function out(pair) { return (pair in excluded) }
    # The name a kept suite is written with; "" for one left out.
    function kept_as(uri, suite) {
      if (mode != "release") return out(norm(uri) " " suite) ? "" : suite
      if (suite == from) return to
      if (index(suite, from "-") == 1) return to substr(suite, length(from) + 1)
      return ""
    }
    BEGIN {
      while (left_out != "" && (getline line < left_out) > 0) excluded[line] = 1
    }
    FNR == 1 { deb822 = FILENAME ~ /\.sources$/ }
    !deb822 {
      entry = $0
      sub(/#.*/, "", entry)
      n = split(entry, word, /[ \t]+/)
      first = word[1] == "" ? 2 : 1
      if (n < first + 2 || (word[first] != "deb" && word[first] != "deb-src")) {
        if (mode == "filter") print
        next
      }
      i = first + 1
      if (word[i] ~ /^\[/) { while (i <= n && word[i] !~ /\]$/) i++; i++ }
      pair = norm(word[i]) " " word[i + 1]
      if (mode == "pairs") { if (word[first] == "deb") print pair; next }
      suite = kept_as(word[i], word[i + 1])
      if (suite == "") {
        print "# left out" (mode == "release" ? ", of another release" : \
          ", its index could not be fetched") ": " $0
      } else if (suite == word[i + 1]) print
      else {
        word[i + 1] = suite
        line = word[first]
        for (k = first + 1; k <= n; k++) if (word[k] != "") line = line " " word[k]
        print line
      }
      next
    }
    # deb822: a stanza ends at a blank line.
    /^[ \t]*$/ { stanza_end(); if (mode != "pairs") print; next }
    { lines[++count] = $0 }
    END { if (deb822) stanza_end() }
    function field(name,    k, value) {
      for (k = 1; k <= count; k++) {
        if (tolower(lines[k]) ~ "^" tolower(name) ":") {
          value = lines[k]
          sub(/^[^:]*:[ \t]*/, "", value)
          return value
        }
      }
      return ""
    }
    function stanza_end(    nu, ns, uri, suite, u, s, k, kept, enabled, types, line) {
      if (count == 0) return
      enabled = tolower(field("Enabled")) != "no"
      types = " " field("Types") " "
      nu = split(field("URIs"), uri, /[ \t]+/)
      ns = split(field("Suites"), suite, /[ \t]+/)
      kept = ""
      for (s = 1; s <= ns; s++) {
        if (suite[s] == "") continue
        renamed = suite[s]
        for (u = 1; u <= nu; u++) {
          if (uri[u] == "") continue
          if (mode == "pairs" && enabled && types ~ / deb /) print norm(uri[u]) " " suite[s]
          if (kept_as(uri[u], suite[s]) == "") renamed = ""
          else if (renamed != "") renamed = kept_as(uri[u], suite[s])
        }
        if (renamed != "") kept = kept (kept == "" ? "" : " ") renamed
      }
      if (mode != "pairs" && kept != "") {
        for (k = 1; k <= count; k++) {
          line = lines[k]
          if (tolower(line) ~ /^suites:/) line = "Suites: " kept
          print line
        }
      }
      count = 0
    }
  ' "$3"
}

apt_update_log() {
  log=$1
  shift
  # apt speaks the machine's language otherwise; its "Err:" lines are read below.
  { LC_ALL=C apt-get update -q "$@" 2>&1; echo $? >"$log.status"; } | tee "$log"
  return "$(cat "$log.status")"
}

apt_failed_suites() {
  pairs=$(mktemp)
  for file in $(apt_source_files); do apt_sources_awk pairs "" "$file"; done | sort -u >"$pairs"
  # "Err:6 http://example.org/debian-security bookworm-security/main i386 Packages":
  # the failed index belongs to the longest source "<uri> <suite>" it starts with.
  sed -n 's/^Err:[0-9]* //p' "$1" | awk -v pairs="$pairs" '
    BEGIN { while ((getline line < pairs) > 0) pair[line] = 1 }
    {
      best = ""
      for (p in pair) {
        if (($0 == p || index($0, p "/") == 1 || index($0, p " ") == 1) &&
            length(p) > length(best)) best = p
      }
      if (best != "") print best
    }' | sort -u
  rm -f "$pairs"
}

apt_failed_lines() {
  awk '/^Err:/ { if (err != "") print err; err = $0; next }
       err != "" && /^  [^ ]/ { sub(/^ +/, ""); print err " (" $0 ")"; err = ""; next }
       { if (err != "") print err; err = "" }
       END { if (err != "") print err }' "$1" | sort -u -k2
}

apt_failed_indexes() {
  apt_failed_lines "$1" | cut -d' ' -f2- | paste -sd';' -
}

apt_suites_named() {
  awk '{ print $2 " (" $1 ")" }' "$1" | paste -sd, - | sed 's/,/, /g'
}

# apt_sources_copy <dir> <apt_sources_awk mode> <suites-file> [<code name> <other>]
apt_sources_copy() {
  mkdir -p "$1/sources.list.d"
  : >"$1/sources.list"
  for file in $(apt_source_files); do
    case $file in
      */sources.list.d/* | *.sources) target=$1/sources.list.d/$(basename "$file") ;;
      *) target=$1/sources.list ;;
    esac
    apt_sources_awk "$2" "$3" "$file" "${4:-}" "${5:-}" >>"$target"
  done
}

apt_sources_without() {
  apt_sources_copy "$1" filter "$2"
}

apt_sources_of_release() {
  apt_sources_copy "$1" release "" "$2" "$3"
}

apt_use_sources() {
  echo "-o Dir::Etc::SourceList=$1/sources.list -o Dir::Etc::SourceParts=$1/sources.list.d" \
    "-o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache="
}
