#!/usr/bin/env bash
# main-job.sh SOURCE_DIR BUILD_DIR: runs the README's main job for both brands without a
# display and checks what it prints.
set -u
src=$1 build=$2
passed=0 failed=0
check() { if grep -qF -- "$2" "$1" || grep -qE -- "$2" "$1"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: no \"$2\" in the output"; fi; }
for brand in tavrin pelloma; do
  out=$build/main-job-$brand.log
  env -u DISPLAY ZV_SKIP_BUILD=1 BUILD_DIR=$build bash "$src/scripts/run.sh" "$brand" > "$out" 2>&1
  Brand=$([ "$brand" = tavrin ] && echo Tavrin || echo Pelloma)
  check "$out" "alert: answered \"Yes\""
  check "$out" "after Uninstall: page 2, heading \"\", next \"Close\" (enabled), previous disabled, progress \"136.000000\""
  check "$out" "closed"
  check "$out" "^  step 10 remove ApplicationsFolder .*/opt/${Brand} \(exists, "
  after=$(sed -n '/== After the uninstall:/,$p' "$out")
  echo "$after" > "$out.after"
  check "$out.after" "ApplicationsFolder +gone"
  check "$out.after" "^ +${Brand}Daemon +gone"
  check "$out.after" "^ +${Brand}Daemo +running"
  check "$out.after" "OtherVendor/bin/OtherApp"
  check "$out.after" "{'KILLDAEMON': True}"
  if grep -q "present" "$out.after" || grep -q "${Brand}App\"" "$out.after"; then
    failed=$((failed + 1)); echo "FAIL: something of the $brand product is left:"; cat "$out.after"
  else
    passed=$((passed + 1))
  fi
  for shot in page-1-welcome page-2-uninstall page-2-progress page-3-completion alert; do
    if [ -s "$build/main-job/$brand/screenshots/$shot.png" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: no $shot.png"; fi
  done
done
# A non-root user with neither a display nor a terminal: one line saying what is needed, at
# once, never a wizard waiting for a password nobody can type.
out=$build/main-job-nonroot.log
if id nobody >/dev/null 2>&1; then
  timeout 60 setsid runuser -u nobody -- env -u DISPLAY ZV_SKIP_BUILD=1 BUILD_DIR=$build bash "$src/scripts/run.sh" tavrin </dev/null >"$out" 2>&1
  status=$?
  if [ "$status" -eq 1 ] && [ "$(wc -l <"$out")" -eq 1 ] && grep -q "needs administrator rights" "$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL: run.sh as nobody without a display ended with $status:"; cat "$out"
  fi
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
