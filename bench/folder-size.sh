#!/usr/bin/env bash
# Benchmark of `zvtool folder-size` against `du -s -B1 --apparent-size` and against
# `find DIR -not -type d -printf '%s\n'` summed, on the same generated trees, warm cache,
# runs alternated. Prints each tool's median wall time, the ratios, and checks that
# zvtool's byte total equals the find sum (non-folder entries, links as themselves, hard
# links each time). Not a test: timing depends on the machine and its load; on a shared
# machine the CPU times (user + system) are steadier than the wall times.
#
#   bench/folder-size.sh [RUNS]        (RUNS defaults to 9; ZVTOOL=path overrides the tool)
#
# Trees, in a temp folder removed at the end:
#   wide: 20,000 folders (100 x 200) holding 200,000 files of 0..4095 bytes, plus symbolic
#         links, hard links and empty folders;
#   deep: a chain 10,000 folders deep (paths far beyond PATH_MAX) with a file every 10 levels.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-9}
zvtool=${ZVTOOL:-$root/build/bin/zvtool}
[ -x "$zvtool" ] || { echo "folder-size.sh: $zvtool not built (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zv-folder-size.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "building trees in $work ..."
python3 - "$work" <<'PY'
import os, random, sys
base = sys.argv[1]
random.seed(8)
wide = os.path.join(base, "wide")
os.mkdir(wide)
payload = os.urandom(4096)
for i in range(100):
    top = os.path.join(wide, "top%03d" % i)
    os.mkdir(top)
    for j in range(200):
        d = os.path.join(top, "folder%03d" % j)
        os.mkdir(d)
        if j % 50 == 49:
            continue  # an empty folder now and then
        for k in range(10):
            fd = os.open(os.path.join(d, "file%d.dat" % k), os.O_WRONLY | os.O_CREAT, 0o644)
            os.write(fd, payload[:random.randrange(4096)])
            os.close(fd)
        if j % 20 == 0:
            os.symlink("file0.dat", os.path.join(d, "link"))
            os.symlink("..", os.path.join(d, "uplink"))
            os.link(os.path.join(d, "file1.dat"), os.path.join(d, "hard"))
# top up to 200,000 files in all
extra = os.path.join(wide, "top000", "folder000")
count = sum(len(f) for _, _, f in os.walk(wide))
n = 0
while count < 200000:
    with open(os.path.join(extra, "more%d" % n), "wb") as f:
        f.write(payload[:n % 4096])
    n += 1
    count += 1
deep = os.path.join(base, "deep")
os.mkdir(deep)
os.chdir(deep)
for level in range(10000):
    os.mkdir("d")
    os.chdir("d")
    if level % 10 == 0:
        with open("f", "wb") as f:
            f.write(payload[:level % 4096])
PY

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
# "WALL CPU" of one run in milliseconds (CPU = user + system, children included).
ms() {
    local TIMEFORMAT='%R %U %S' t
    t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
    awk -v t="$t" 'BEGIN {split(t, a, " "); printf "%.1f %.1f\n", a[1] * 1000, (a[2] + a[3]) * 1000}'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }
find_sum() { find "$1" -not -type d -printf '%s\n' | awk '{s+=$1} END {printf "%d\n", s}'; }

status=0
for tree in wide deep; do
    dir=$work/$tree
    files=$(find "$dir" -not -type d | wc -l); folders=$(find "$dir" -type d | wc -l)
    # warm the cache
    "$zvtool" folder-size "$dir" >/dev/null; du -s -B1 --apparent-size "$dir" >/dev/null; find_sum "$dir" >/dev/null
    z=(); d=(); f=(); zc=(); dc=(); fc=()
    for ((i = 0; i < runs; i++)); do
        read -r w c < <(ms "$zvtool" folder-size "$dir"); z+=("$w"); zc+=("$c")
        read -r w c < <(ms du -s -B1 --apparent-size "$dir"); d+=("$w"); dc+=("$c")
        read -r w c < <(ms find_sum "$dir"); f+=("$w"); fc+=("$c")
    done
    zm=$(printf '%s\n' "${z[@]}" | median); dm=$(printf '%s\n' "${d[@]}" | median); fm=$(printf '%s\n' "${f[@]}" | median)
    zcm=$(printf '%s\n' "${zc[@]}" | median); dcm=$(printf '%s\n' "${dc[@]}" | median); fcm=$(printf '%s\n' "${fc[@]}" | median)
    total=$("$zvtool" folder-size "$dir"); expected=$(find_sum "$dir")
    printf '%s: %d non-folder entries, %d folders\n' "$tree" "$files" "$folders"
    printf '  median of %d          wall ms   CPU ms   wall ratio  CPU ratio\n' "$runs"
    printf '  zvtool folder-size  %8.1f %8.1f\n' "$zm" "$zcm"
    printf '  du --apparent-size  %8.1f %8.1f   du/zvtool %.2fx   %.2fx\n' "$dm" "$dcm" "$(ratio "$dm" "$zm")" "$(ratio "$dcm" "$zcm")"
    printf '  find -printf %%s     %8.1f %8.1f   find/zvtool %.2fx %.2fx\n' "$fm" "$fcm" "$(ratio "$fm" "$zm")" "$(ratio "$fcm" "$zcm")"
    if [ "$total" = "$expected" ]; then
        printf '  bytes: %s = find sum\n' "$total"
    else
        printf '  bytes: zvtool %s != find sum %s\n' "$total" "$expected"; status=1
    fi
done
exit $status
