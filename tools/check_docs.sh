#!/usr/bin/env bash
# Checks what the README and the pages in docs/ promise a reader:
# - every relative link, [text](path) or ![picture](path), leads to a file of
#   the tree, and a #section after it to a heading of that page;
# - the README opens with its two commands, and both are executable scripts.
# Links to other sites are not followed. Prints each broken promise and
# exits with 1 when there is one.
# Usage: tools/check_docs.sh [SOURCE_ROOT]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
status=0

# The anchors of a page's headings as a reader's browser makes them: lower
# case, punctuation dropped, blanks as hyphens.
anchors() {
  grep -E '^#{1,6} ' "$1" | sed -E 's/^#+ //' | tr 'A-Z' 'a-z' | sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'
}

for page in README.md docs/*.md; do
  folder=$(dirname "$page")
  # Links outside fenced code blocks, one per line.
  links=$(awk '/^```/ { fenced = !fenced; next } !fenced' "$page" |
    grep -oE '\]\([^)[:space:]]+\)' | sed -E 's/^\]\((.*)\)$/\1/' || true)
  for link in $links; do
    case "$link" in
      http://* | https://* | mailto:*) continue ;;
    esac
    path=${link%%#*}
    anchor=
    [ "$path" = "$link" ] || anchor=${link#*#}
    target=$page
    if [ -n "$path" ]; then
      target=$folder/$path
      if [ ! -e "$target" ]; then
        echo "$page: the link $link leads to no file"
        status=1
        continue
      fi
    fi
    if [ -n "$anchor" ] && ! anchors "$target" | grep -qxF "$anchor"; then
      echo "$page: the link $link leads to no heading of $target"
      status=1
    fi
  done
done

# The README's first block of commands is the one a newcomer runs first.
first_block=$(awk '/^```/ { if (fenced) exit; fenced = 1; next } fenced' README.md)
commands=$(printf '%s\n' "$first_block" | sed -E 's/[[:space:]]*#.*$//')
if [ "$commands" != $'tools/demo.sh\ntools/test.sh' ]; then
  echo "README.md: the first block is not the two commands tools/demo.sh and tools/test.sh"
  status=1
fi
for command in $commands; do
  [ -x "$command" ] || { echo "README.md: $command is not an executable script"; status=1; }
done
exit "$status"
