#!/usr/bin/env bash
# Builds the Debian package (debian/, debhelper's CMake support) and prints its path.
#   scripts/package.sh [--out DIR] [--from-build BUILD_DIR] [--as-version V]
# The sources (what git tracks) are copied to DIR/src/polvarine and built there with
# `dpkg-buildpackage -b -us -uc`; the .deb lands in DIR/src (default DIR: build-pkg).
# --from-build packs an existing build tree (e.g. CI's build/) instead of compiling again: the
# same install rules, debhelper steps and lintian, without the packaging's compiler flags. It is
# the cheap check CI runs; a package for users comes from the full build.
# --as-version packs the same sources as an older (or newer) version V: the project's version and a
# changelog entry say V (scripts/check-package.sh upgrades from such a package).
# Installs debhelper, devscripts, lintian and the build dependencies by name when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build-pkg"
from_build=""
as_version=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --out) out="$2"; shift ;;
        --from-build) from_build=$(cd "$2" && pwd); shift ;;
        --as-version) as_version="$2"; shift ;;
        *) echo "usage: $0 [--out DIR] [--from-build BUILD_DIR] [--as-version V]" >&2; exit 2 ;;
    esac
    shift
done

SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO="sudo"
tools=(debhelper lintian appstream desktop-file-utils)
[[ -n $from_build ]] || tools+=(devscripts)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "package: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
if [[ -z $from_build ]] && ! (cd "$root" && dpkg-checkbuilddeps >/dev/null 2>&1); then
    echo "package: installing the build dependencies of debian/control" >&2
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get build-dep -y -qq --no-install-recommends "$root" >&2
fi

# Always the same folder, so that the compiler cache knows every file of the last build.
src="$out/src/polvarine"
rm -rf "$src"
mkdir -p "$src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) | tar -xf - -C "$src"
else
    tar -C "$root" --exclude='./build' --exclude='./build-*' -cf - . | tar -xf - -C "$src"
fi

if [[ -n $as_version ]]; then
    sed -i -E "s/^project\(Polvarine VERSION [0-9.]+ /project(Polvarine VERSION $as_version /" "$src/CMakeLists.txt"
    { printf 'polvarine (%s) unstable; urgency=medium\n\n  * Packed as %s.\n\n -- %s  %s\n\n' "$as_version" "$as_version" \
          "$(sed -n 's/^Maintainer: //p' "$src/debian/control")" "$(date -R)"
      cat "$root/debian/changelog"; } >"$src/debian/changelog"
fi

args=(-b -us -uc)
# The compiler cache, when there is one (CMake takes the launcher from the environment).
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
if [[ -n $from_build ]]; then
    # No compiler runs, so the compile dependencies need not be there.
    args+=(-d)
    export POLVARINE_PREBUILT="$from_build"
    # Nor is a -dbgsym package made of that tree.
    export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }noautodbgsym"
fi
log="$out/dpkg-buildpackage.log"
if ! (cd "$src" && nice dpkg-buildpackage "${args[@]}") >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package: dpkg-buildpackage failed (whole log: $log)" >&2
    exit 1
fi
version=$(cd "$src" && dpkg-parsechangelog -S Version)
deb="$out/src/polvarine_${version}_$(dpkg --print-architecture).deb"
[[ -f $deb ]] || { echo "package: no $deb" >&2; exit 1; }
echo "$deb"
