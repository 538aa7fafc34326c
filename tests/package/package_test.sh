#!/usr/bin/env bash
# package_test.sh <source dir> <build dir> <out dir>
set -uo pipefail
src=$1 build=$2 out=$3
fail() { echo "FAIL: $*"; exit 1; }
for tool in dpkg-buildpackage dh lintian desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh installs it)"
done
deb=$(bash "$src/scripts/package.sh" --from-build "$build" --out "$out") || fail "the package did not build"
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# lintian: no error (warnings and notes are listed, not fatal).
lintian --fail-on error --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1
status=$?
echo "lintian: $(grep -c '^E:' "$out/lintian.txt") errors, $(grep -c '^W:' "$out/lintian.txt") warnings"
grep '^[EW]:' "$out/lintian.txt"
[[ $status -eq 0 ]] || fail "lintian reports errors"

root="$out/root"
rm -rf "$root" && dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"
menu="$root/usr/share/applications/hu.polvarine.Polvarine.desktop"
desktop-file-validate "$menu" || fail "the menu entry does not validate"
grep -qx 'Exec=polvarine' "$menu" || fail "the menu entry does not start the installed program"
meta="$root/usr/share/metainfo/hu.polvarine.Polvarine.metainfo.xml"
grep -q "<launchable type=\"desktop-id\">${menu##*/}</launchable>" "$meta" || fail "the metainfo does not name the menu entry"
appstreamcli validate --pedantic --no-net "$meta" || fail "the metainfo does not validate"

# The package's version is the project's, and the metainfo's newest release names it.
version=$(dpkg-deb -f "$deb" Version)
grep -q "^project(Polvarine VERSION $version " "$src/CMakeLists.txt" || fail "package version $version is not the project's"
grep -m1 '<release ' "$meta" | grep -q "version=\"$version\"" || fail "the metainfo's newest release is not $version"
[[ $(dpkg-deb -f "$deb" Section) == net ]] || fail "the section is not net"

# Where the files go: the library private to the program, found through its RUNPATH; no
# development link; every icon size; nothing setuid or setgid.
lib=$(cd "$root" && ls usr/lib/*/polvarine/libPolvarineCore.so.1) || fail "the library is not in its private folder"
[[ -z $(cd "$root" && find usr/lib -maxdepth 2 -name 'libPolvarineCore*') ]] || fail "the library is public"
[[ -z $(find "$root" -name 'libPolvarineCore.so') ]] || fail "a development link is packed"
private=${lib%/*}
readelf -d "$root/usr/bin/polvarine" | grep -q "RUNPATH.*\[\$ORIGIN/../${private#usr/}\]" || fail "the program's RUNPATH misses $lib"
for size in 48x48 64x64 128x128 256x256; do
    [[ $(file -b "$root/usr/share/icons/hicolor/$size/apps/polvarine.png") == *"${size/x/ x }"* ]] || fail "no $size icon"
done
[[ -f $root/usr/share/icons/hicolor/scalable/apps/polvarine.svg ]] || fail "no scalable icon"
[[ -z $(find "$root" -perm /6000) ]] || fail "setuid or setgid files: $(find "$root" -perm /6000)"

# The packaged program on a terminal with no display: answers and starts nothing else.
runtime=$(mktemp -d) && trap 'rm -rf "$runtime"' EXIT
while IFS='|' read -r args code want; do
    got=$(cd "$runtime" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= XDG_RUNTIME_DIR="$runtime" HOME="$runtime" \
          timeout 10 "$root/usr/bin/polvarine" $args 2>&1)
    rc=$?
    [[ $rc -eq $code ]] || fail "polvarine $args: exit $rc, expected $code ($got)"
    [[ $got == *"$want"* ]] || fail "polvarine $args said: $got"
done <<TABLE
--version|0|Polvarine $version
-V|0|Polvarine $version
--help|0|Használat: polvarine
--frissit|2|ismeretlen kapcsoló: „--frissit”
naplo.txt|2|nem vár fájlt
-platform|2|hiányzik az érték
TABLE
[[ -z $(ls -A "$runtime") ]] || fail "answering the terminal left files: $(ls -A "$runtime")"
echo "package: ok"
