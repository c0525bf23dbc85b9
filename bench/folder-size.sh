#!/usr/bin/env bash
# Benchmark of `zvtool folder-size` against `du -sb`, `find DIR -not -type d -printf '%s\n'`
# summed, and gdu where it is installed, on generated trees with a warm cache. The commands
# alternate run after run; for each it prints the median wall time with min and max, the
# median CPU time (user + system, children included), the ratio of du's median to its own,
# and its peak memory (one extra run under /usr/bin/time). zvtool's byte total must equal
# the find sum (non-folder entries, links as themselves, hard links once per name): the
# script fails otherwise. Then zvtool's wall time at 10,000, 100,000 and 1,000,000 files.
# Not a test: times depend on the machine and its load. On a shared machine compare the
# CPU times too, and rerun when the load average printed at the start and end is high.
#
#   bench/folder-size.sh [RUNS]        (RUNS defaults to 7; ZVTOOL=path overrides the tool)
#
# Trees, made by a small C++ generator in a temp folder removed at the end (sizes are set
# with ftruncate: the walks read sizes, not contents):
#   wide:  20,000 folders (100 x 200) holding 200,000 entries of 0..4095 bytes, with
#          symbolic links, hard links and empty folders among them;
#   1M:    1,000,000 files of 0..8191 bytes (about 4 GB) in 100,000 folders, timed with
#          half the runs (at least 3); its sub-trees n (100,000 files) and n/k (10,000 files)
#          give the growth figures with it;
#   deep:  a chain 10,000 folders deep (paths far beyond PATH_MAX), a file every 10 levels.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
zvtool=${ZVTOOL:-$root/build/bin/zvtool}
[ -x "$zvtool" ] || { echo "folder-size.sh: $zvtool not built (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zv-folder-size.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat > "$work/gen.cpp" <<'CPP'
// gen wide|nested|deep DIR: builds the tree in the existing folder DIR.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
static unsigned seed = 8;
static unsigned rnd() { return (seed = seed * 1103515245u + 12345u) >> 8; }
static void file(int dir, const char *name, off_t size)
{
    const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, size) != 0) { perror(name); exit(1); }
    close(fd);
}
static int sub(int dir, const char *name)
{
    const int fd = mkdirat(dir, name, 0755) == 0 ? openat(dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (fd < 0) { perror(name); exit(1); }
    return fd;
}
// COUNT tops of 200 folders of 10 files of 0..LARGEST bytes; EXTRAS: links, hard links, an
// empty folder in 50.
static void tops(int root, int count, bool extras, unsigned largest = 4095)
{
    char name[32];
    for (int i = 0; i < count; ++i) {
        snprintf(name, sizeof name, "top%03d", i);
        const int top = sub(root, name);
        for (int j = 0; j < 200; ++j) {
            snprintf(name, sizeof name, "folder%03d", j);
            const int d = sub(top, name);
            if (!(extras && j % 50 == 49)) {
                for (int k = 0; k < 10; ++k) {
                    snprintf(name, sizeof name, "file%d.dat", k);
                    file(d, name, rnd() % (largest + 1));
                }
                if (extras && j % 20 == 0 && (symlinkat("file0.dat", d, "link") || symlinkat("..", d, "uplink")
                                              || linkat(d, "file1.dat", d, "hard", 0))) { perror("link"); exit(1); }
            }
            close(d);
        }
        close(top);
    }
}
int main(int argc, char **argv)
{
    const int root = argc == 3 ? open(argv[2], O_RDONLY | O_DIRECTORY) : -1;
    if (root < 0) return 2;
    if (!strcmp(argv[1], "wide")) {
        tops(root, 100, true);
        const int extra = openat(root, "top000/folder000", O_RDONLY | O_DIRECTORY);
        char name[32];
        for (long n = 0, have = 100L * 196 * 10 + 100L * 10 * 3; have < 200000; ++n, ++have) {
            snprintf(name, sizeof name, "more%ld", n);
            file(extra, name, n % 4096);
        }
    } else if (!strcmp(argv[1], "nested")) {
        const int n = sub(root, "n");
        tops(sub(n, "k"), 5, false, 8191); // about 4 GB in all: beyond 2^31 and 2^32
        tops(n, 45, false, 8191);
        tops(root, 450, false, 8191);
    } else if (!strcmp(argv[1], "deep")) {
        for (int level = 0, fd = root; level < 10000; ++level) {
            const int next = sub(fd, "d");
            if (fd != root) close(fd);
            fd = next;
            if (level % 10 == 0) file(fd, "f", level % 4096);
        }
    }
    return 0;
}
CPP
c++ -O2 -o "$work/gen" "$work/gen.cpp"

echo "folder-size.sh $runs on $(nproc) CPUs; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
start=$SECONDS
for tree in wide 1M deep; do
    mkdir "$work/$tree"
    "$work/gen" "$([ $tree = 1M ] && echo nested || echo $tree)" "$work/$tree"
done
echo "trees built in $((SECONDS - start)) s"

find_sum() { find "$1" -not -type d -printf '%s\n' | awk '{s += $1} END {printf "%.0f\n", s}'; }
gdu_sum() { gdu -npsa "$1"; }
tools=(zvtool du find)
command -v gdu >/dev/null && tools+=(gdu)
run() { # TOOL DIR
    case $1 in
        zvtool) "$zvtool" folder-size "$2" ;;
        du) du -sb "$2" ;;
        find) find_sum "$2" ;;
        gdu) gdu_sum "$2" ;;
    esac
}
# "WALL CPU" of one run in milliseconds (CPU = user + system, children included).
timed() {
    local TIMEFORMAT='%R %U %S' t
    t=$( { time run "$@" >/dev/null 2>&1; } 2>&1 )
    awk -v t="$t" 'BEGIN {split(t, a, " "); printf "%.1f %.1f\n", a[1] * 1000, (a[2] + a[3]) * 1000}'
}
# median, min and max of the numbers given
stats() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; print m, a[1], a[NR]}'; }
peak_kb() { # TOOL DIR: the peak resident memory of one run, in KB
    local t=(/usr/bin/time -f %M -o "$work/peak")
    case $1 in
        zvtool) "${t[@]}" "$zvtool" folder-size "$2" ;;
        du) "${t[@]}" du -sb "$2" ;;
        find) "${t[@]}" sh -c 'find "$1" -not -type d -printf "%s\n" | awk "{s += \$1} END {printf \"%.0f\n\", s}"' sh "$2" ;;
        gdu) "${t[@]}" gdu -npsa "$2" ;;
    esac >/dev/null 2>&1
    cat "$work/peak"
}
status=0
declare -A wall cpu
for tree in wide 1M deep; do
    dir=$work/$tree
    for t in "${tools[@]}"; do run "$t" "$dir" >/dev/null 2>&1; wall[$t]=; cpu[$t]=; done # warm the cache
    n=$runs; [ $tree = 1M ] && n=$(( runs / 2 > 3 ? runs / 2 : 3 ))
    for ((i = 0; i < n; i++)); do
        for t in "${tools[@]}"; do
            read -r w c < <(timed "$t" "$dir")
            wall[$t]+=" $w"; cpu[$t]+=" $c"
        done
    done
    files=$(find "$dir" -not -type d | wc -l); folders=$(find "$dir" -type d | wc -l)
    printf '\n%s: %d non-folder entries, %d folders\n' "$tree" "$files" "$folders"
    printf '  %-22s %26s %10s %9s %9s\n' "median of $n" "wall ms (min-max)" "CPU ms" "du/it" "peak KB"
    read -r dm _ _ < <(stats ${wall[du]})
    for t in "${tools[@]}"; do
        read -r m lo hi < <(stats ${wall[$t]})
        read -r cm _ _ < <(stats ${cpu[$t]})
        printf '  %-22s %9.1f (%7.1f-%7.1f) %10.1f %8.2fx %9s\n' "$t" "$m" "$lo" "$hi" "$cm" \
            "$(awk -v a="$dm" -v b="$m" 'BEGIN {print a / b}')" "$(peak_kb "$t" "$dir")"
    done
    total=$("$zvtool" folder-size "$dir"); expected=$(find_sum "$dir")
    if [ "$total" = "$expected" ]; then
        printf '  bytes: zvtool %s = find sum (du -sb, folders and hard links once: %s)\n' "$total" "$(du -sb "$dir" | cut -f1)"
    else
        printf '  bytes: zvtool %s != find sum %s\n' "$total" "$expected"; status=1
    fi
    if [ $tree = 1M ]; then # the last row of the growth figures
        read -r big _ _ < <(stats ${wall[zvtool]}); read -r bigc _ _ < <(stats ${cpu[zvtool]})
        read -r bigd _ _ < <(stats ${wall[du]}); read -r bigdc _ _ < <(stats ${cpu[du]})
    fi
done

printf '\ngrowth, medians (wall ms; CPU ms)        zvtool                du -sb\n'
prev=
for sub in 1M/n/k 1M/n 1M; do
    if [ $sub = 1M ]; then
        zm=$big zcm=$bigc dm=$bigd dcm=$bigdc
    else
        zw=; zc=; dw=; dc=
        for ((i = 0; i < runs; i++)); do
            read -r w c < <(timed zvtool "$work/$sub"); zw+=" $w"; zc+=" $c"
            read -r w c < <(timed du "$work/$sub"); dw+=" $w"; dc+=" $c"
        done
        read -r zm _ _ < <(stats $zw); read -r zcm _ _ < <(stats $zc)
        read -r dm _ _ < <(stats $dw); read -r dcm _ _ < <(stats $dc)
    fi
    n=$(find "$work/$sub" -not -type d | wc -l)
    printf '  %9d files  %9.1f; %8.1f %s  %9.1f; %8.1f\n' "$n" "$zm" "$zcm" \
        "$([ -n "$prev" ] && awk -v a="$zm" -v b="$prev" 'BEGIN {printf "(x%.1f)", a / b}' || echo '      ')" "$dm" "$dcm"
    prev=$zm
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg); whole run $((SECONDS - start)) s"
exit $status
