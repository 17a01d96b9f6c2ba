#!/usr/bin/env bash
# Refuses an include that points up or sideways between the source folders.
# Each folder may include only the folders listed for it, which all lie
# below it:
#   src/main.cpp, src/run_sequence.*   the run sequence: everything below
#   src/check | src/prepare            the companion commands: reading, geometry
#                                      and below (not each other)
#   src/reading | src/writing          mesh, records, numeric (not each other)
#   src/mesh | src/geometry            records, numeric (not each other); the
#                                      mesh geometry needs only numeric so far
#   src/records                        numeric
#   src/numeric                        nothing of the project
# Usage: tools/check_layers.sh [SOURCE_ROOT]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root/src"

declare -A allowed=(
  [top]="check reading writing mesh geometry records numeric"
  [check]="reading geometry mesh records numeric"
  [prepare]="reading geometry mesh records numeric"
  [reading]="mesh records numeric"
  [writing]="mesh records numeric"
  [mesh]="records numeric"
  [geometry]="numeric"
  [records]="numeric"
  [numeric]=""
)

status=0
check_file() {
  local layer=$1 file=$2 included folder
  while IFS= read -r included; do
    folder=${included%%/*}
    [ "$folder" = "$included" ] && folder=top  # a header beside main
    [ "$folder" = "$layer" ] && continue
    if [[ " ${allowed[$layer]} " != *" $folder "* ]]; then
      echo "src/$file includes \"$included\": $layer may include only: ${allowed[$layer]:-nothing}" >&2
      status=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
}

for file in *.cpp *.h; do
  [ -e "$file" ] && check_file top "$file"
done
for layer in "${!allowed[@]}"; do
  [ "$layer" = top ] || [ ! -d "$layer" ] && continue
  for file in "$layer"/*.cpp "$layer"/*.h; do
    [ -e "$file" ] && check_file "$layer" "$file"
  done
done
exit $status
