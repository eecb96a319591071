#!/usr/bin/env bash
# FolderSize against `du -s --apparent-size` on one generated tree of 100,000
# files in 1,400 folders, with warm caches and with caches dropped before every
# run (when this user may drop them). Prints the medians and their ratio
# (FolderSize / du; below 1.0 means FolderSize is faster), and the same for the
# CPU time, which a busy machine disturbs less than the wall-clock time.
#   RUNS=7 TREE=/tmp/tarnvel-bench-tree BUILD=build/bench bench/foldersize_vs_du.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build/bench}
tree=${TREE:-/tmp/tarnvel-bench-tree}
runs=${RUNS:-7}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNVEL_BUILD_UI=OFF \
  -DTARNVEL_BUILD_TESTS=OFF -DTARNVEL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target foldersize_bench -j 2 >/dev/null
bench="$build/bench/foldersize_bench"

# The tree: 28 folders of 49 sub-folders each, 1,400 folders holding 71 or 72
# files each, sizes 0..1 MiB as
# sparse files so that writing it costs little. Made once and reused.
if [ ! -f "$tree/.complete-1400" ]; then
  rm -rf "$tree"
  python3 - "$tree" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(1400)
groups = [os.path.join(root, f"group{g:02d}") for g in range(28)]
folders = groups + [os.path.join(g, f"folder{f:02d}") for g in groups for f in range(49)]
for i in range(100000):
    folder = folders[i % len(folders)]
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"clip{i:06d}.mp4"), "wb") as out:
        out.truncate(random.randrange(0, 1 << 20))
PY
  touch "$tree/.complete-1400"
fi
echo "tree: $tree, $(find "$tree" -type f -not -name '.complete*' | wc -l) files in $(find "$tree" -mindepth 1 -type d | wc -l) folders"

# Both must measure the same bytes: du's own folder sizes aside, the files'.
ours=$("$bench" "$tree")
files=$(find "$tree" -type f -printf '%s\n' | awk '{s += $1} END {printf "%.0f\n", s}')
[ "$ours" = "$files" ] || { echo "FolderSize gave $ours, the files sum to $files"; exit 1; }
echo "FolderSize = $ours bytes (agrees with the files' apparent sizes)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
measure() {  # label, hyperfine options...
  local label=$1; shift
  hyperfine -N --style basic --runs "$runs" "$@" --export-json "$out/$label.json" \
    -n FolderSize "$bench $tree" -n du "du -s --apparent-size $tree" >/dev/null
  python3 - "$out/$label.json" "$label" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
ours, du = r["FolderSize"]["median"], r["du"]["median"]
cpu = {k: v["user"] + v["system"] for k, v in r.items()}  # means: the machine's other load aside
print(f"{sys.argv[2]:>5}: FolderSize median {ours*1000:.1f} ms, du median {du*1000:.1f} ms, "
      f"ratio {ours/du:.2f} (runs {len(r['du']['times'])}); "
      f"CPU time {cpu['FolderSize']*1000:.0f} ms vs {cpu['du']*1000:.0f} ms, ratio {cpu['FolderSize']/cpu['du']:.2f}")
PY
}

measure warm --warmup 2
if (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
  measure cold --prepare "sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'"
else
  echo " cold: not measured: this user may not drop the page cache (/proc/sys/vm/drop_caches)"
fi
