#!/usr/bin/env bash
# samples.sh SOURCE_DIR BUILD_DIR: each sample table, made into a deployment for a standard
# installation and for a sandbox, passes zvtool check-deployment and holds every value.
set -u
src=$1 build=$2
tmp=$(mktemp -d "$build/deployments-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
check() { if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $*"; fi; }
for brand in Tavrin Pelloma; do
  BUILD_DIR=$build "$src/tools/make-deployment.sh" "$src/Deployments/$brand.plist" "$tmp/$brand" "" >/dev/null
  check test -x "$tmp/$brand/Uninstaller"
  check test -f "$tmp/$brand/Info.plist"
  check "$build/bin/zvtool" check-deployment --quiet "$tmp/$brand/Localizable.plist"
  check bash -c "! grep -q '@ROOT@' '$tmp/$brand/Localizable.plist'"
  BUILD_DIR=$build "$src/tools/make-deployment.sh" "$src/Deployments/$brand.plist" "$tmp/$brand-sandbox" /srv/sandbox >/dev/null
  check grep -q '<string>/srv/sandbox/opt/' "$tmp/$brand-sandbox/Localizable.plist"
done
# A damaged table is refused by the check.
printf 'not a table' > "$tmp/bad.plist"
check bash -c "! '$build/bin/zvtool' check-deployment --quiet '$tmp/bad.plist' 2>/dev/null"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
