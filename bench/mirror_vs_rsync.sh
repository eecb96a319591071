#!/usr/bin/env bash
# The mirror tool against rsync and against the durable peers (rsync or cp
# followed by sync -f, since the tool's copies are on the disk when it ends),
# with the destination on a journaled ext4 disk image that the script makes,
# mounts and removes (root only) and the source on the work folder's file
# system with warm caches. The tools take turns in each round; every figure is
# the median of RUNS rounds (default 3), and one table ends the run.
#   bench/mirror_vs_rsync.sh [path/to/robocopy] [work folder]
# FILES=100000 small files of 0-2 KiB in FOLDERS=1400 folders (smaller values
# for a quick look); BIG_MIB=2048 for the large file. The work folder needs
# about 16 GiB free.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/program/robocopy}")
work=${2:-${TMPDIR:-/tmp}/tarnvel-mirror-bench}
runs=${RUNS:-3}
files=${FILES:-100000}
folders=${FOLDERS:-1400}
big_mib=${BIG_MIB:-2048}
[ -x "$tool" ] || { echo "no robocopy at $tool (build it first)"; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "mirror_vs_rsync: needs root to make and mount the ext4 disk image; nothing measured"
  exit 0
fi

loop=""
cleanup() {
  cd /
  mountpoint -q "$work/disk" && umount "$work/disk"
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work/disk"
cd "$work"
# Written whole before it is used, and kept so by mkfs (nodiscard): a sparse
# image makes the host file system allocate each block on its first write,
# which slows down whichever tool writes there first (the large file's first
# copy took twice as long as the same copy on reused blocks).
dd if=/dev/zero of=disk.img bs=16M count=$(( (big_mib * 3 + files * 12 / 1024 + 2048) / 16 )) conv=fsync status=none
# Initialised whole now: the lazy zeroing of a new file system would compete
# with the first rounds for the disk.
mkfs.ext4 -q -F -E nodiscard,lazy_itable_init=0,lazy_journal_init=0 disk.img
loop=$(losetup --direct-io=on --find --show disk.img)
mount "$loop" disk
dest=$work/disk

# The program's own line, and rsync with the same exclusions.
tail_args=(/MIR /FFT /Z /XA:H /R:0 /XD '$Recycle.bin' Boot Recycler "System Volume Information" /XF '*.exe')
rsync_args=(-r --times --delete --modify-window=2 "--exclude=[\$][rR][eE][cC][yY][cC][lL][eE].[bB][iI][nN]/"
            "--exclude=[bB][oO][oO][tT]/" "--exclude=[rR][eE][cC][yY][cC][lL][eE][rR]/"
            "--exclude=[sS][yY][sS][tT][eE][mM] [vV][oO][lL][uU][mM][eE] [iI][nN][fF][oO][rR][mM][aA][tT][iI][oO][nN]/"
            "--include=*.[eE][xX][eE]/" "--exclude=*.[eE][xX][eE]" "--include=.*/" "--exclude=.*")

# Times one command (a shell line) into times/<case>.<tool>; robocopy's exit
# bits below 8 mean success.
timed() {
  local case=$1 who=$2 line=$3 start end
  start=$(date +%s.%N)
  bash -c "$line" >/dev/null 2>"times/last.err" || {
    local rc=$?
    if [ "$who" != ours ] || [ "$rc" -ge 8 ]; then echo "$case/$who failed ($rc):"; cat times/last.err; exit 1; fi
  }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }' >>"times/$case.$who"
}
ours() { printf '%q ' "$tool" "$1/" "$2/" "${tail_args[@]}"; }
rsync_to() { printf '%q ' rsync "${rsync_args[@]}" "$1/" "$2/"; }
# Empties the disk between fresh runs, outside the timing, and lets the
# journal catch up so that one tool's removals do not slow the next.
clear_disk() { rm -rf "$dest"/*; sync -f "$dest"; }
mkdir times

echo "generating $files files of 0-2 KiB in $folders folders, and $files in one folder"
python3 "$root/bench/small_tree.py" "$folders" "$files"
python3 - "$files" <<'PY'
import os, sys
os.makedirs("flat")
for i in range(int(sys.argv[1])):
    with open(f"flat/file{i:06}.dat", "wb") as out:
        out.write(os.urandom(i % 65))
PY
echo "generating one file of $big_mib MiB"
mkdir big && head -c $((big_mib << 20)) /dev/urandom >big/clip.mov
find small flat big -type f -exec cat {} + >/dev/null  # warm caches for the source

for round in $(seq "$runs"); do
  echo "round $round of $runs"
  # Fresh, then a no-op right after it (the disk still busy with the fresh
  # run's write-back), then a no-op with everything settled.
  clear_disk; timed fresh ours "$(ours small "$dest/ours")"; timed noop_after ours "$(ours small "$dest/ours")"
  sync -f "$dest"; timed noop ours "$(ours small "$dest/ours")"
  clear_disk; timed fresh rsync "$(rsync_to small "$dest/rsync")"
  timed noop_after rsync "$(rsync_to small "$dest/rsync")"
  sync -f "$dest"; timed noop rsync "$(rsync_to small "$dest/rsync")"
  clear_disk; timed fresh rsync_sync "$(rsync_to small "$dest/rsync") && sync -f $dest"
  clear_disk; timed fresh cp_sync "cp -r --preserve=timestamps small $dest/cp && sync -f $dest"
  clear_disk
  # One folder of many entries.
  timed flat_fresh ours "$(ours flat "$dest/ours")"; timed flat_noop ours "$(ours flat "$dest/ours")"
  timed flat_fresh rsync "$(rsync_to flat "$dest/rsync")"; timed flat_noop rsync "$(rsync_to flat "$dest/rsync")"
  clear_disk
  timed large ours "$(ours big "$dest/ours")"
  clear_disk; timed large cp_sync "mkdir $dest/cp && cp --preserve=timestamps big/clip.mov $dest/cp/ && sync -f $dest"
  clear_disk; timed large rsync_sync "$(rsync_to big "$dest/rsync") && sync -f $dest"
  clear_disk
done

python3 - "$tool" "$files" "$folders" "$big_mib" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)" <<'PY'
import statistics, sys
tool, files, folders, big, cores, load = sys.argv[1:]
def median(case, who):
    try:
        return statistics.median(float(x) for x in open(f"times/{case}.{who}"))
    except FileNotFoundError:
        return None
rows = [  # case, what, peer, goal
    ("fresh", f"fresh, {files} files in {folders} folders", "rsync_sync", 0.55),
    ("fresh", "", "cp_sync", 0.65),
    ("fresh", "", "rsync", None),
    ("noop_after", "no-op right after a fresh mirror", "rsync", 0.30),
    ("noop", "no-op, settled", "rsync", 0.30),
    ("flat_noop", f"no-op, {files} files in one folder", "rsync", 0.30),
    ("flat_fresh", f"fresh, {files} files in one folder", "rsync", None),
    # Every copy is read back from the disk: the goal for verified copies.
    ("large", f"one {big} MiB file, fresh, read back", "cp_sync", 1.8),
    ("large", "", "rsync_sync", None),
]
names = {"rsync": "rsync", "rsync_sync": "rsync + sync -f", "cp_sync": "cp + sync -f"}
print(f"\nmirror tool {tool}; destination on a journaled ext4 image (direct I/O loop); {cores} cores, load {load}")
print(f"{'case':42} {'tool s':>8}  {'peer':16} {'peer s':>8} {'ratio':>6} {'goal':>6}")
for case, what, peer, goal in rows:
    ours, theirs = median(case, "ours"), median(case, peer)
    if ours is None or theirs is None:
        continue
    ratio = ours / theirs
    verdict = "" if goal is None else ("  met" if ratio <= goal else "  NOT MET")
    goal_text = "" if goal is None else f"{goal:.2f}"
    print(f"{what:42} {ours:8.3f}  {names[peer]:16} {theirs:8.3f} {ratio:6.2f} {goal_text:>6}{verdict}")
PY
