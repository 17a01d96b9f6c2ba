#!/usr/bin/env bash
# The remesh's figures on generated models (a sphere, a torus, a box, a
# 10:1 bar, a finely tessellated flange) and on the CAD sample with
# slivers, each at a coarse and a fine size (L = max side), as the
# preparation reports them in its JSON:
#   facets out over the equilateral estimate (targets: 1.8 at most, 1.5 the
#   mark, where L is at most a fifth of the curvature radius), the smallest
#   angle, the largest deviation against the allowed one, the area and
#   volume change (target within 0.5 %), sharp edges kept, and the time.
# With --gmsh, gmsh's STL remesh of the CAD sample to the same size, in
# alternating pairs with the preparation after a warm-up (each after a
# sync), and the median of the pairs' time ratios (target: the preparation
# at least 10 times faster).
# With --large, the 1,666,666-facet generated torus (bench/make_model)
# remeshed to about a million facets, in alternating pairs with its
# conversion by stldeck: the median of the pairs' time ratios (target: at
# most 40) and the preparation's peak memory from /usr/bin/time -v (target:
# at most 2 GiB).
#
# Usage: [models="sphere box ..."] bench/remesh_bench.sh [--build DIR] [--gmsh] [--large]
#                                                        [--runs N]
# Defaults: build, 3 runs. The machine may be shared: the figures of time
# are only as quiet as it was.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$(pwd)
build=build
runs=3
with_gmsh=0
with_large=0
while (($# > 0)); do
  case $1 in
    --build) build=${2:?--build needs a folder}; shift 2 ;;
    --gmsh) with_gmsh=1; shift ;;
    --large) with_large=1; shift ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "remesh_bench.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
done
prepare=$root/$build/stldeck-prepare
[[ -x $prepare ]] || { echo "remesh_bench.sh: build $prepare first" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The generated models, in metres, as ASCII STL.
python3 - "$scratch" <<'PY'
import math, sys
out = sys.argv[1]
def write(name, tris):
    with open(f"{out}/{name}.stl", "w") as f:
        f.write("solid m\n")
        for t in tris:
            f.write("facet normal 0 0 0\nouter loop\n")
            for p in t:
                f.write("vertex %.17g %.17g %.17g\n" % p)
            f.write("endloop\nendfacet\n")
        f.write("endsolid m\n")
def box(lo, hi):
    c = lambda i: tuple(hi[k] if (i >> k) & 1 else lo[k] for k in range(3))
    ids = [(0,2,3),(0,3,1),(4,5,7),(4,7,6),(0,1,5),(0,5,4),(2,6,7),(2,7,3),(0,4,6),(0,6,2),(1,3,7),(1,7,5)]
    return [tuple(c(i) for i in f) for f in ids]
def torus(R, r, n, m):
    at = lambda i, j: ((R + r*math.cos(2*math.pi*(j%m)/m))*math.cos(2*math.pi*(i%n)/n),
                       (R + r*math.cos(2*math.pi*(j%m)/m))*math.sin(2*math.pi*(i%n)/n),
                       r*math.sin(2*math.pi*(j%m)/m))
    t = []
    for i in range(n):
        for j in range(m):
            t += [(at(i,j), at(i+1,j), at(i+1,j+1)), (at(i,j), at(i+1,j+1), at(i,j+1))]
    return t
def sphere(R, n, m):
    at = lambda i, j: (R*math.sin(math.pi*j/m)*math.cos(2*math.pi*i/n),
                       R*math.sin(math.pi*j/m)*math.sin(2*math.pi*i/n), R*math.cos(math.pi*j/m))
    t = []
    for i in range(n):
        for j in range(m):
            a, b, c, d = at(i,j), at(i+1,j), at(i+1,j+1), at(i,j+1)
            if j > 0: t.append((a, c, b))
            if j < m - 1: t.append((a, d, c))
    return [tuple(reversed(x)) for x in t]
def flange(ri, ro, h, n):
    at = lambda r, i, z: (r*math.cos(2*math.pi*(i%n)/n), r*math.sin(2*math.pi*(i%n)/n), z)
    t = []
    for i in range(n):
        a0,a1,b0,b1 = at(ro,i,0),at(ro,i+1,0),at(ri,i,0),at(ri,i+1,0)
        c0,c1,d0,d1 = at(ro,i,h),at(ro,i+1,h),at(ri,i,h),at(ri,i+1,h)
        t += [(c0,c1,d1),(c0,d1,d0),(a0,b1,a1),(a0,b0,b1),(a0,a1,c1),(a0,c1,c0),(b0,d1,b1),(b0,d0,d1)]
    return t
write("sphere", sphere(0.5, 48, 24))
write("torus", torus(0.5, 0.15, 64, 24))
write("box", box((0,0,0), (1,0.8,0.6)))
write("bar", box((0,0,0), (1,0.1,0.1)))
write("flange", flange(0.1, 0.25, 0.03, 256))
PY
cp "$root/../shared/stl-samples/openscad_cube_minus_sphere.stl" "$scratch/housing.stl" 2>/dev/null ||
  cp "$root/tests/data/../../examples/STL_Model.stl" "$scratch/housing.stl"

value() { sed -n "s/^  \"$1\": \\(.*\\),\\{0,1\\}\$/\\1/p" "$2" | tr -d ','; }
# Frequencies for L = 343 / f / 6: coarse and fine for each model.
printf '%-8s %9s %8s %8s %6s %7s %10s %10s %8s %8s %7s %6s\n' model L facets ratio angle aspect \
  deviation allowed area% volume% sharp time_s
# The CAD sample is in millimetres: its speed of sound is 343000 mm/s, and
# its frequencies give edges of 2.9 and 0.71 mm on its 10 mm body.
for model in ${models:-sphere torus box bar flange housing}; do
  speed=343
  frequencies="1000 4000"
  [[ $model == housing ]] && speed=343000 frequencies="20000 80000"
  for frequency in $frequencies; do
    json=$scratch/$model-$frequency.json
    start=$(date +%s.%N)
    "$prepare" --json --sound-speed $speed --frequency "$frequency" "$scratch/$model.stl" \
      "$scratch/out.stl" >"$json" || true
    end=$(date +%s.%N)
    facets=$(value facets "$json")
    estimate=$(value equilateral_estimate "$json")
    [[ -n $estimate ]] || { echo "$model at $frequency Hz: not remeshed"; continue; }
    awk -v m="$model" -v f="$frequency" -v n="$facets" -v e="$estimate" \
      -v a="$(value smallest_angle "$json")" -v q="$(value largest_aspect_ratio "$json")" \
      -v d="$(value largest_deviation "$json")" -v D="$(value max_deviation "$json")" \
      -v ar="$(value area_change "$json")" -v vo="$(value volume_change "$json")" \
      -v s="$(value sharp_edges_kept "$json")/$(value sharp_edges "$json")" -v t="$end" -v t0="$start" \
      -v c="$speed" 'BEGIN { printf "%-8s %9.5f %8d %8.2f %6.1f %7.2f %10.3g %10.3g %8.3f %8.3f %7s %6.2f\n",
               m, c/f/6, n, (e > 0 ? n/e : 0), a, q, d, D, ar*100, vo*100, s, t-t0 }'
  done
done

if ((with_gmsh)); then
  command -v gmsh >/dev/null || { echo "remesh_bench.sh: gmsh is not installed" >&2; exit 2; }
  frequency=20000
  side=$(awk -v f=$frequency 'BEGIN { printf "%.9g", 343000/f/6 }')
  cat >"$scratch/remesh.geo" <<GEO
Merge "$scratch/housing.stl";
ClassifySurfaces{40 * Pi / 180, 1, 1, Pi};
CreateGeometry;
Mesh.MeshSizeMax = $side;
GEO
  run_ours() { "$prepare" --sound-speed 343000 --frequency $frequency "$scratch/housing.stl" "$scratch/ours.stl" >/dev/null || true; }
  run_gmsh() { gmsh "$scratch/remesh.geo" -2 -format stl -o "$scratch/gmsh.stl" >/dev/null 2>&1 || true; }
  timed() { sync; local s; s=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $s" | bc -l; }
  run_ours; run_gmsh
  ratios=()
  for ((i = 0; i < runs; ++i)); do
    ours=$(timed run_ours)
    theirs=$(timed run_gmsh)
    ratios+=("$(echo "$theirs / $ours" | bc -l)")
    printf 'pair %d: preparation %.3f s, gmsh %.3f s\n' $((i + 1)) "$ours" "$theirs"
  done
  printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END {
    m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "gmsh time over the preparation'"'"'s, median of %d pairs: %.2f (target at least 10)\n", NR, m }'
fi

if ((with_large)); then
  [[ -x $root/$build/make_model && -x $root/$build/stldeck ]] ||
    { echo "remesh_bench.sh: build make_model and stldeck (STLDECK_BENCH=ON) first" >&2; exit 2; }
  large=$scratch/large
  mkdir -p "$large"
  "$root/$build/make_model" 1666666 "$large/STL_Model.stl"
  # The torus is 40 by 15 units (taken as millimetres) with 23,687 square
  # units of surface: edges of at most 0.33 give about 500,000 equilateral
  # triangles, so about a million facets at the remesh's usual count.
  large_frequency=173000
  run_prepare() {
    "$prepare" --sound-speed 343000 --frequency $large_frequency "$large/STL_Model.stl" \
      "$large/out.stl" >"$large/prepare.txt"
  }
  run_convert() { (cd "$large" && rm -f input.dat input.plt && "$root/$build/stldeck" >/dev/null); }
  timed() { sync; local s; s=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $s" | bc -l; }
  /usr/bin/time -v "$prepare" --sound-speed 343000 --frequency $large_frequency \
    "$large/STL_Model.stl" "$large/out.stl" >"$large/prepare.txt" 2>"$large/time.txt"
  grep -E '^  (remeshed|wrote|not remeshed)' "$large/prepare.txt" || true
  peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$large/time.txt")
  printf 'large model: peak memory %.2f GiB (target at most 2)\n' "$(echo "$peak_kib / 1048576" | bc -l)"
  run_convert
  ratios=()
  for ((i = 0; i < runs; ++i)); do
    converted=$(timed run_convert)
    prepared=$(timed run_prepare)
    ratios+=("$(echo "$prepared / $converted" | bc -l)")
    printf 'pair %d: conversion %.3f s, preparation %.3f s\n' $((i + 1)) "$converted" "$prepared"
  done
  printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END {
    m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
    printf "preparation time over the conversion'"'"'s, median of %d pairs: %.1f (target at most 40)\n", NR, m }'
fi
