#!/usr/bin/env bash
# The mirror tool against rsync (and cp for one large file), each case the
# median of at least 5 runs with warm caches, printed as a ratio to rsync.
# Needs: hyperfine rsync python3 coreutils, and a built robocopy.
#   bench/mirror_vs_rsync.sh [path/to/robocopy] [work folder]
# FOLDERS=40 makes a tree of 20,000 files instead of 100,000 (500 per folder).
# The work folder needs about 5 GiB free and is removed at the end.
# Put it on the kind of disk a user mirrors to (ext4 with a journal, say): on
# ext4 without one, inodes freed by the previous run's removal are skipped for
# 30 s, which slows every fresh run that follows by seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/program/robocopy}")
work=${2:-${TMPDIR:-/tmp}/tarnvel-mirror-bench}
runs=${RUNS:-5}
folders=${FOLDERS:-200}
[ -x "$tool" ] || { echo "no robocopy at $tool (build it first)"; exit 1; }
rm -rf "$work"; mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

# The program's own line, and rsync with the same exclusions.
tail_args=(/MIR /FFT /Z /XA:H /R:0 /XD '$Recycle.bin' Boot Recycler "System Volume Information" /XF '*.exe')
rsync_args=(-r --times --delete --modify-window=2 "--exclude=[\$][rR][eE][cC][yY][cC][lL][eE].[bB][iI][nN]/"
            "--exclude=[bB][oO][oO][tT]/" "--exclude=[rR][eE][cC][yY][cC][lL][eE][rR]/"
            "--exclude=[sS][yY][sS][tT][eE][mM] [vV][oO][lL][uU][mM][eE] [iI][nN][fF][oO][rR][mM][aA][tT][iI][oO][nN]/"
            "--include=*.[eE][xX][eE]/" "--exclude=*.[eE][xX][eE]" "--include=.*/" "--exclude=.*")
# robocopy's exit bits below 8 mean success.
ours() { printf '%q ' "$tool" "$1/" "$2/" "${tail_args[@]}"; printf '; [ $? -lt 8 ]'; }
theirs() { printf '%q ' rsync "${rsync_args[@]}" "$1/" "$2/"; }

echo "generating $((folders * 500)) files of 0-2 KiB in $folders folders"
python3 "$root/bench/small_tree.py" "$folders"
find small -type f | shuf -n $((folders * 5)) --random-source=<(yes) > touched.list

bench() {  # name, then hyperfine arguments
  local name=$1; shift
  hyperfine --show-output --runs "$runs" --export-json "$name.json" "$@" 2>&1 | grep -iE "error|terminated" || true
}
# cp makes no check and no durable write: it shows what the file system allows.
bench fresh --prepare 'rm -rf ours theirs copy' "$(ours small ours)" "$(theirs small theirs)" \
  "cp -r --preserve=timestamps small copy"
bench noop "$(ours small ours)" "$(theirs small theirs)"
bench touched --prepare 'xargs -a touched.list touch' "$(ours small ours)" "$(theirs small theirs)"
rm -rf ours theirs copy

echo "generating one 2 GiB file"
mkdir big && head -c $((2 << 30)) /dev/urandom > big/clip.mov
bench large --prepare 'rm -rf ours theirs copy; mkdir copy' "$(ours big ours)" "$(theirs big theirs)" \
  "cp --preserve=timestamps big/clip.mov copy/clip.mov" \
  "cp --preserve=timestamps big/clip.mov copy/clip.mov && sync -f copy/clip.mov"

python3 - "$tool" <<'PY'
import json, sys
print(f"mirror tool {sys.argv[1]} against rsync; medians in seconds")
for name, what in [("fresh", "fresh mirror, small files"), ("noop", "no-op re-mirror"),
                   ("touched", "after touching 1% of the files"), ("large", "one 2 GiB file")]:
    results = json.load(open(f"{name}.json"))["results"]
    ours, rsync = results[0]["median"], results[1]["median"]
    line = f"{what:34} ours {ours:8.3f}  rsync {rsync:8.3f}  ratio {ours / rsync:5.2f}"
    for label, other in zip(["cp", "cp+sync"], results[2:]):
        line += f"  {label} {other['median']:8.3f}  ratio to {label} {ours / other['median']:5.2f}"
    print(line)
PY
