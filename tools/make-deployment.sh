#!/usr/bin/env bash
# make-deployment.sh TABLE OUTDIR [ROOT]
#
# Makes a deployment of the uninstaller in OUTDIR: the program, its library and helper
# programs, Info.plist, and TABLE (a property list of values, such as Deployments/Tavrin.plist)
# as OUTDIR/Localizable.plist with every "@ROOT@" replaced by ROOT (default: nothing, for a
# real installation; a sandbox folder for trials and tests). The programs are taken from
# beside this script (an installed copy) or from the build folder (BUILD_DIR, default build/).
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: make-deployment.sh TABLE OUTDIR [ROOT]" >&2
  exit 2
fi
table=$1 out=$2 root=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ -x "$here/Uninstaller" ]; then
  bin=$here
else
  bin=${BUILD_DIR:-$here/../build}/bin
fi
[ -x "$bin/Uninstaller" ] || { echo "make-deployment.sh: no Uninstaller in $bin (build first)" >&2; exit 1; }
[ -f "$table" ] || { echo "make-deployment.sh: no table at $table" >&2; exit 1; }
case "$root" in *'|'*|*'&'*|*'\'*) echo "make-deployment.sh: ROOT may not hold | & or \\" >&2; exit 2;; esac

mkdir -p "$out"
cp -f "$bin/Uninstaller" "$out/"
cp -fP "$bin"/libZVCommon.so* "$out/" 2>/dev/null || cp -fP "$bin"/../lib/libZVCommon.so* "$out/"
for helper in SystemEvents; do
  [ -x "$bin/$helper" ] && cp -f "$bin/$helper" "$out/"
done
cp -f "$bin/Info.plist" "$out/Info.plist"
sed "s|@ROOT@|$root|g" "$table" > "$out/Localizable.plist"
echo "$out"
