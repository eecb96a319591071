#!/usr/bin/env bash
# What reading every copy back costs: the mirror tool against a build of it
# that does not verify (any older build), against cp + sync, and against
# cp + sync + cmp from the disk; each case the median of RUNS runs (5).
# Needs: hyperfine python3 xxhash coreutils, and root for the ext4 image.
#   bench/mirror_verify.sh UNVERIFIED_ROBOCOPY [path/to/robocopy] [work folder]
# The work folder gets a journaled ext4 image of 8 GiB (sparse), mounted
# for the run and removed at the end. FOLDERS=40 makes 20,000 files instead
# of 100,000; FOLDERS=0 measures the big file only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 UNVERIFIED_ROBOCOPY [robocopy] [work folder]"; exit 1; }
plain=$(realpath "$1")
tool=$(realpath "${2:-$root/build/native/program/robocopy}")
work=${3:-${TMPDIR:-/tmp}/tarnvel-verify-bench}
runs=${RUNS:-5}
folders=${FOLDERS:-200}
for t in "$tool" "$plain"; do [ -x "$t" ] || { echo "no robocopy at $t"; exit 1; }; done
rm -rf "$work"; mkdir -p "$work/disk"
truncate -s 8G "$work/ext4.img"
mkfs.ext4 -q -F "$work/ext4.img"
mount -o loop "$work/ext4.img" "$work/disk"
trap 'cd /; umount "$work/disk"; rm -rf "$work"' EXIT
cd "$work/disk"

tail_args=(/MIR /FFT /Z /XA:H /R:0)
run() { printf '%q ' "$1" "$2/" "$3/" "${tail_args[@]}"; printf '; [ $? -lt 8 ]'; }
# Drops a file's cached pages, so that the next read comes from the disk.
uncache() {
  printf "python3 -c 'import os,sys\nfor p in sys.argv[1:]:\n fd=os.open(p,os.O_RDONLY); os.posix_fadvise(fd,0,0,os.POSIX_FADV_DONTNEED); os.close(fd)'"
  printf ' %q' "$@"
}
bench() {  # name, then hyperfine arguments
  local name=$1; shift
  hyperfine --show-output --runs "$runs" --export-json "$work/$name.json" "$@" 2>&1 | grep -iE "error|terminated" || true
}

if [ "$folders" -gt 0 ]; then
  echo "generating $((folders * 500)) files of 0-2 KiB in $folders folders"
  python3 "$root/bench/small_tree.py" "$folders"
  sync -f .
  bench fresh --prepare 'rm -rf verified plain; sync -f .' "$(run "$tool" small verified)" "$(run "$plain" small plain)"
  bench noop "$(run "$tool" small verified)" "$(run "$plain" small plain)"
  rm -rf small verified plain
fi

echo "generating one 2 GiB file"
mkdir big && head -c $((2 << 30)) /dev/urandom > big/clip.mov && sync -f big/clip.mov
bench large --prepare 'rm -rf verified copy; mkdir copy; sync -f .' "$(run "$tool" big verified)" \
  "cp --preserve=timestamps big/clip.mov copy/clip.mov && sync -f copy/clip.mov" \
  "cp --preserve=timestamps big/clip.mov copy/clip.mov && sync -f copy/clip.mov && $(uncache big/clip.mov copy/clip.mov) && cmp big/clip.mov copy/clip.mov"
# The hash from memory, and the disk's read speed.
cat big/clip.mov >/dev/null
bench hash "xxhsum -H2 big/clip.mov"
bench read --prepare "$(uncache big/clip.mov)" "cat big/clip.mov"

python3 - "$work" <<'PY'
import json, os, sys
def medians(name):
    return [r["median"] for r in json.load(open(f"{sys.argv[1]}/{name}.json"))["results"]]
large = medians("large")
gib = 2 << 30
print("medians in seconds; ratios: verified / other")
for name, what in [("fresh", "fresh mirror, small files"), ("noop", "no-op re-mirror")]:
    if os.path.exists(f"{sys.argv[1]}/{name}.json"):
        ours, plain = medians(name)
        print(f"{what:27} verified {ours:8.3f}  unverified {plain:8.3f}  ratio {ours / plain:5.2f}")
print(f"one 2 GiB file              verified {large[0]:8.3f}  cp+sync {large[1]:8.3f}  ratio {large[0] / large[1]:5.2f}"
      f"  cp+sync+cmp {large[2]:8.3f}  ratio {large[0] / large[2]:5.2f}")
print(f"XXH3-128 from memory (xxhsum) {gib / medians('hash')[0] / 1e9:6.2f} GB/s;"
      f" the disk's read speed {gib / medians('read')[0] / 1e9:6.2f} GB/s")
PY
