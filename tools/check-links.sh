#!/bin/sh
# Every relative link in README.md and docs/*.md must lead somewhere: the file
# or folder exists, and a #anchor matches a heading of the target file as
# GitHub names it (lower case, punctuation dropped, spaces to hyphens, -1, -2
# for repeats). Links to other sites are not followed. Offline.
# Usage: tools/check-links.sh [FILE.md]...    (default: README.md docs/*.md)
set -eu
cd "$(dirname "$0")/.."
exec python3 - "$@" <<'EOF'
import glob, os, re, sys

sources = sys.argv[1:] or ["README.md"] + sorted(glob.glob("docs/*.md"))

def prose(path):
    """The lines outside fenced code blocks, with their numbers."""
    fence = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            mark = re.match(r"\s*(`{3,}|~{3,})", line)
            if mark:
                if fence is None:
                    fence = mark.group(1)[0] * len(mark.group(1))
                elif mark.group(1).startswith(fence):
                    fence = None
                continue
            if fence is None:
                yield number, line

def anchors(path):
    seen, found = {}, set()
    for _, line in prose(path):
        heading = re.match(r"#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading.group(1))
        slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        found.add(slug if count == 0 else "%s-%d" % (slug, count))
    return found

link = re.compile(r"!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)|^\s*\[[^\]]+\]:\s*(\S+)")
broken = 0
for source in sources:
    for number, line in prose(source):
        line = re.sub(r"`[^`]*`", "", line)
        for match in link.finditer(line):
            target = match.group(1) or match.group(2)
            if re.match(r"[a-z][a-z0-9+.-]*:", target, re.I):
                continue
            path, _, anchor = target.partition("#")
            path = os.path.normpath(os.path.join(os.path.dirname(source), path)) if path else source
            problem = None
            if not os.path.exists(path):
                problem = "no such file"
            elif anchor and (not path.endswith(".md") or anchor not in anchors(path)):
                problem = "no heading for #" + anchor + " in " + path
            if problem:
                print("%s:%d: broken link %s: %s" % (source, number, target, problem))
                broken += 1
if broken:
    sys.exit(1)
print("links: %d file(s), every relative link leads somewhere" % len(sources))
EOF
