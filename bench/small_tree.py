# The benchmarks' tree of small files: 500 files of 0-2 KiB in each of
# FOLDERS folders under small/, the same from run to run in sizes.
#   python3 bench/small_tree.py FOLDERS
import os
import random
import sys

random.seed(1)
for d in range(int(sys.argv[1])):
    folder = f"small/folder{d:03}"
    os.makedirs(folder)
    for f in range(500):
        with open(f"{folder}/file{f:03}.dat", "wb") as out:
            out.write(os.urandom(random.randint(0, 2048)))
