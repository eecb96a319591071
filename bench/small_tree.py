# The benchmarks' tree of small files: FILES files of 0-2 KiB (500 per folder
# unless given) spread over FOLDERS folders under small/, the same from run to
# run in sizes.
#   python3 bench/small_tree.py FOLDERS [FILES]
import os
import random
import sys

random.seed(1)
folders = int(sys.argv[1])
files = int(sys.argv[2]) if len(sys.argv) > 2 else folders * 500
for d in range(folders):
    os.makedirs(f"small/folder{d:04}")
for f in range(files):
    with open(f"small/folder{f % folders:04}/file{f:06}.dat", "wb") as out:
        out.write(os.urandom(random.randint(0, 2048)))
