#!/usr/bin/env bash
# install.sh SOURCE_DIR BUILD_DIR: "cmake --install" into a temp prefix holds the library, the
# headers, the application with its resources and zvtool, and a program built against the
# installed headers and library runs.
set -u
src=$1 build=$2
prefix=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
passed=0 failed=0
check() { if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $*"; fi; }
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libZVCommon.so bin/Uninstaller bin/zvtool bin/Info.plist bin/Localizable.plist \
         bin/make-deployment.sh include/ZVCommon/ZVUtility.h include/ZVCommon/ZVLocalizedString.h \
         include/ZVCommon/ZVAuthentication.h include/ZVCommon/NSArray_Extensions.h \
         share/ZVUninstaller/Deployments/Tavrin.plist; do
  check test -e "$prefix/$f"
done
check "$prefix/bin/zvtool" version
# The installed headers and library are enough for a program of the product's.
cat > "$prefix/probe.cpp" <<'CPP'
#include <ZVLocalizedString.h>
#include <ZVUtility.h>
#include <cstdio>
int main() {
    std::puts(ZVLocalizedString(QStringLiteral("NoSuchKey"), QString()).toUtf8().constData());
    return ZVUtility::isStringContainsKeyString(QStringLiteral("abc"), QStringLiteral("b")) ? 0 : 1;
}
CPP
flags=$(pkg-config --cflags Qt6Core Qt6Gui Qt6Widgets libplist-2.0 2>/dev/null) || flags="-I/usr/include/x86_64-linux-gnu/qt6 -I/usr/include/x86_64-linux-gnu/qt6/QtCore -I/usr/include/x86_64-linux-gnu/qt6/QtGui -I/usr/include/x86_64-linux-gnu/qt6/QtWidgets"
check g++ -std=c++20 -fPIC $flags -I"$prefix/include/ZVCommon" "$prefix/probe.cpp" -o "$prefix/probe" \
  -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lZVCommon -lQt6Core
check bash -c "'$prefix/probe' | grep -qx NoSuchKey"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
