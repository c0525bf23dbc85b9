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
         bin/make-deployment.sh share/ZVUninstaller/Deployments/Tavrin.plist; do
  check test -e "$prefix/$f"
done
# Only the API is installed: the public headers named in CMakeLists.txt and the export header.
expected=$( (sed -n '/^set(ZVCOMMON_PUBLIC_HEADERS/,/)/p' "$src/CMakeLists.txt" | grep -oE '[A-Za-z0-9_+.-]+\.h\b'; echo zvcommon_export.h) | sort)
check test "$(ls "$prefix/include/ZVCommon" | sort)" = "$expected"
# ... and only the API is exported: every defined dynamic symbol belongs to a public class,
# namespace or function (vtables and type information included).
api='ZVUtility|ZVLocalizedString|ZVReadLocalizedStringsTable|ZVAuthentication|ZVScheduleItem|TavrinScheduleItem|MyExtensions|ZVXExtension|LQLoginItemRegistry|LIAE[A-Za-z]+|NSObject|NSCalendarDate|NSWorkspace|NSKeyedArchiver|NSKeyedUnarchiver|k?CF[A-Za-z]+|FSPathMakeRef|FSRefMakePath'
internal=$(nm -D --defined-only "$prefix/lib/libZVCommon.so" | awk '{print $3}' | c++filt \
  | sed -E 's/^(vtable|typeinfo|typeinfo name|VTT|construction vtable) for //' \
  | grep -vE "^(_init|_fini|_edata|_end|__bss_start)\$" | grep -vE "^(($api)(::|\(|\$)|std::|Q[A-Za-z]+([<:(]|\$)|QtPrivate::|operator)" || true)
check test -z "$internal"
[ -z "$internal" ] || echo "internal symbols exported:" $internal | head -c 2000
check "$prefix/bin/zvtool" version
# The installed headers and library are enough for a program of the product's: it includes every
# public header (without libplist's or QtDBus's), stores a schedule list and reads it back.
{ for h in $expected; do echo "#include <$h>"; done; cat <<'CPP'
#include <cstdio>
int main(int, char **argv) {
    std::puts(ZVLocalizedString(QStringLiteral("NoSuchKey"), QString()).toUtf8().constData());
    auto item = std::make_shared<ZVScheduleItem>();
    item->setStatus(1);
    const QString path = QString::fromLocal8Bit(argv[1]);
    if (!MyExtensions::writeToArchivedFileWithKey({QVariant::fromValue<NSObjectPtr>(item)}, path, QStringLiteral("Schedules")))
        return 2;
    const std::optional<QVariantList> back = MyExtensions::initWithContentsOfArchivedFileWithKey(path, QStringLiteral("Schedules"));
    auto *read = back && back->size() == 1 ? dynamic_cast<ZVScheduleItem *>(objectFromVariant(back->at(0)).get()) : nullptr;
    return read && read->status() == 1 && ZVUtility::isStringContainsKeyString(QStringLiteral("abc"), QStringLiteral("b")) ? 0 : 1;
}
CPP
} > "$prefix/probe.cpp"
flags=$(pkg-config --cflags Qt6Core Qt6Gui Qt6Widgets 2>/dev/null) || flags="-I/usr/include/x86_64-linux-gnu/qt6 -I/usr/include/x86_64-linux-gnu/qt6/QtCore -I/usr/include/x86_64-linux-gnu/qt6/QtGui -I/usr/include/x86_64-linux-gnu/qt6/QtWidgets"
check g++ -std=c++20 -fPIC $flags -I"$prefix/include/ZVCommon" "$prefix/probe.cpp" -o "$prefix/probe" \
  -L"$prefix/lib" -Wl,-rpath,"$prefix/lib" -lZVCommon -lQt6Core
check bash -c "'$prefix/probe' '$prefix/Schedules.plist' | grep -qx NoSuchKey"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
