#!/usr/bin/env bash
# Refuses an include that points up or sideways between the source folders,
# and any circle of includes between files. Each folder may include only
# the folders listed for it, which all lie below it:
#   src/main.cpp, src/run_sequence.*   the converter's run: its runtime, the
#                                      writers, the scanner and below
#   src/check | src/prepare | src/deck the companion commands: the companion
#                                      layer, reading, geometry and below (not
#                                      each other, not the converter's runtime);
#                                      the deck also the deck head of writing.
#                                      The check still takes its output channel
#                                      and report numbers from the converter's
#                                      runtime, the one exception left
#   src/companion                      what the companions share: options, exit
#                                      statuses, JSON, report rows; geometry,
#                                      mesh and the shared I/O layer below
#   src/writing                        the deck and view writers: the converter's
#                                      runtime, mesh, geometry's headers and below
#   src/records                        the converter's runtime (units, reports,
#                                      endings, render-ahead): the shared I/O
#                                      layer, format, numeric
#   src/reading                        the scanner: geometry, mesh, the shared I/O
#                                      layer, format, numeric; never the
#                                      converter's runtime
#   src/mesh | src/geometry            the shared I/O layer and numeric (not each
#                                      other)
#   src/io                             the shared I/O layer: format, numeric;
#                                      no units, no report numbers
#   src/format                         pure formatting: numeric only, never I/O
#   src/numeric                        nothing of the project
# Both include forms count: "folder/file.h" and <folder/file.h> when the
# folder is one of src/.
# Usage: tools/check_layers.sh [SOURCE_ROOT]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root/src"

declare -A allowed=(
  [top]="records writing reading mesh geometry io format numeric"
  [check]="companion reading geometry mesh records io format numeric"
  [prepare]="companion reading geometry mesh io format numeric"
  [deck]="companion writing reading geometry mesh io format numeric"
  [companion]="geometry mesh io format numeric"
  [writing]="records mesh geometry io format numeric"
  [records]="io format numeric"
  [reading]="geometry mesh io format numeric"
  [mesh]="io numeric"
  [geometry]="io numeric"
  [io]="format numeric"
  [format]="numeric"
  [numeric]=""
)

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

check_file() {
  local layer=$1 file=$2 form included folder
  while IFS= read -r form; do
    included=${form#?}
    folder=${included%%/*}
    if [ "$folder" = "$included" ]; then
      [ "${form:0:1}" = "<" ] && continue  # a standard header such as <vector>
      folder=top                           # a header beside main
    elif [ ! -d "$folder" ]; then
      continue  # a system header such as <sys/stat.h>
    fi
    # A header and its source are one piece: the circle that matters runs
    # through pieces (a.cpp -> b.h -> a.h is a circle of a and b).
    [ -e "$included" ] && echo "${file%.*} ${included%.*}" >>"$edges"
    [ "$folder" = "$layer" ] && continue
    if [[ " ${allowed[$layer]-} " != *" $folder "* ]]; then
      echo "src/$file includes \"$included\": $layer may include only: ${allowed[$layer]:-nothing}" >&2
      status=1
    fi
  done < <(sed -n -e 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/"\1/p' \
                  -e 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/<\1/p' "$file")
}

for file in *.cpp *.h; do
  [ -e "$file" ] && check_file top "$file"
done
for layer in */; do
  layer=${layer%/}
  if [ -z "${allowed[$layer]+known}" ]; then
    echo "src/$layer: a folder without a line in the table of tools/check_layers.sh" >&2
    status=1
    continue
  fi
  for file in "$layer"/*.cpp "$layer"/*.h; do
    [ -e "$file" ] && check_file "$layer" "$file"
  done
done

# A circle of includes between pieces (a header with its source), inside
# one folder or across folders, is refused too: tsort names the pieces on
# it (a pair naming one piece twice only says that the piece exists).
if ! tsort "$edges" >/dev/null 2>"$edges.loop"; then
  echo "src/: files include each other in a circle:" >&2
  grep -v "input contains a loop" "$edges.loop" | sed 's/^tsort: /  src\//' >&2
  status=1
fi
rm -f "$edges.loop"
exit $status
