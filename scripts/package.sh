#!/usr/bin/env bash
# Builds the Debian package (debian/, debhelper's CMake support) and prints its path.
#   scripts/package.sh [--release bookworm|trixie] [--out DIR] [--from-build BUILD_DIR] [--as-version V]
# The sources (what git tracks) are copied to DIR/src/polvarine and built there with
# `dpkg-buildpackage -b -us -uc`; the .deb lands in DIR/src (default DIR: build-pkg/<release>).
# --release (12, 13 or the code name; default: the machine's own release) says which Debian the
# package is for: its dependencies are that release's libraries. On a machine of another release the
# build runs in a root of that release made with mmdebstrap (DIR/buildroot, kept for the next build)
# from the Debian mirror in POLVARINE_DEBIAN_MIRROR (default http://deb.debian.org/debian).
# --from-build packs an existing build tree (e.g. CI's build/) instead of compiling again: the
# same install rules, debhelper steps and lintian, without the packaging's compiler flags. It is
# the cheap check CI runs; a package for users comes from the full build.
# --as-version packs the same sources as an older (or newer) version V: the project's version and a
# changelog entry say V (scripts/check-package.sh upgrades from such a package).
# Installs debhelper, devscripts, lintian and the build dependencies by name when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=""
from_build=""
as_version=""
release=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --release) release="$2"; shift ;;
        --out) out="$2"; shift ;;
        --from-build) from_build=$(cd "$2" && pwd); shift ;;
        --as-version) as_version="$2"; shift ;;
        *) echo "usage: $0 [--release bookworm|trixie] [--out DIR] [--from-build BUILD_DIR] [--as-version V]" >&2; exit 2 ;;
    esac
    shift
done
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case "${release:-$host_release}" in
    12|bookworm) release=bookworm ;;
    13|trixie) release=trixie ;;
    *) echo "package: unknown release '${release:-$host_release}' (bookworm or trixie)" >&2; exit 2 ;;
esac
out=${out:-$root/build-pkg/$release}
mkdir -p "$out" && out=$(cd "$out" && pwd)
in_root=""
if [[ $release != "$host_release" ]]; then
    [[ -z $from_build ]] || { echo "package: --from-build packs this machine's build, which is for $host_release" >&2; exit 2; }
    in_root="$out/buildroot"
fi

SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO="sudo"
# The compiler cache, when there is one (CMake takes the launcher from the environment).
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
if [[ -n $in_root ]]; then
    [[ $(id -u) -eq 0 ]] || exec $SUDO -E bash "$0" --release "$release" --out "$out" ${as_version:+--as-version "$as_version"}
    if [[ ! -f $in_root/.polvarine-buildroot ]]; then
        command -v mmdebstrap >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >&2; }
        mirror=${POLVARINE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
        # The build dependencies of debian/control, each alternative's first name.
        deps=$(sed -n '/^Build-Depends:/,/^[A-Za-z-]*:/p' "$root/debian/control" | sed '1s/^Build-Depends://;$d' |
               tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/\[.*\]//; s/debhelper-compat/debhelper/' | tr -d ' ' | grep -v '^$' | paste -sd,)
        echo "package: making a $release build root in $in_root" >&2
        rm -rf "$in_root"
        mmdebstrap --variant=buildd --quiet --aptopt='Acquire::Check-Valid-Until "false"' \
            --include="$deps,lintian,appstream,desktop-file-utils,ccache" "$release" "$in_root" \
            "deb $mirror $release main" "deb $mirror $release-updates main" \
            "deb ${mirror%/debian}/debian-security $release-security main" >"$out/mmdebstrap.log" 2>&1 \
            || { tail -n 20 "$out/mmdebstrap.log" >&2; echo "package: mmdebstrap could not make a $release root" >&2; exit 1; }
        touch "$in_root/.polvarine-buildroot"
    fi
fi
tools=(debhelper lintian appstream desktop-file-utils)
[[ -n $from_build ]] || tools+=(devscripts)
missing=()
for p in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ -z $in_root ]] && ((${#missing[@]})); then
    echo "package: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
if [[ -z $in_root && -z $from_build ]] && ! (cd "$root" && dpkg-checkbuilddeps >/dev/null 2>&1); then
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
if [[ -n $from_build ]]; then
    # No compiler runs, so the compile dependencies need not be there.
    args+=(-d)
    export POLVARINE_PREBUILT="$from_build"
    # Nor is a -dbgsym package made of that tree.
    export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }noautodbgsym"
fi
log="$out/dpkg-buildpackage.log"
build() { (cd "$src" && nice dpkg-buildpackage "${args[@]}"); }
if [[ -n $in_root ]]; then
    # The sources and the compiler cache are mounted into the root for the build; the mounts end
    # with the build's own mount namespace.
    mkdir -p "$out/ccache" "$in_root/build/out" "$in_root/build/ccache"
    build() {
        unshare -m --propagation private sh -c '
            mount -t proc proc "$1/proc" && mount --bind "$2" "$1/build/out" && mount --bind "$3" "$1/build/ccache" &&
            exec chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/build LC_ALL=C.UTF-8 CCACHE_DIR=/build/ccache \
                CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache \
                sh -c "cd /build/out/src/polvarine && nice dpkg-buildpackage -b -us -uc"' sh "$in_root" "$out" "$out/ccache"
    }
fi
if ! build >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "package: dpkg-buildpackage failed (whole log: $log)" >&2
    exit 1
fi
version=$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$src/debian/changelog")
deb="$out/src/polvarine_${version}_$(dpkg --print-architecture).deb"
[[ -f $deb ]] || { echo "package: no $deb" >&2; exit 1; }
if [[ -z $from_build ]]; then
    # The release's own lintian and validators, on the package as built (their words in DIR/checks.txt).
    checks='deb=$1; x=$(mktemp -d); dpkg-deb -x "$deb" "$x"
        echo "lintian $(lintian --version | cut -d" " -f2) (every tag, overrides shown):"
        lintian --tag-display-limit 0 -L ">=pedantic" --show-overrides "$deb" 2>/dev/null | tee "${deb%.deb}.lintian"
        echo "lintian: $(grep -c "^E:" "${deb%.deb}.lintian") errors, $(grep -c "^W:" "${deb%.deb}.lintian") warnings, $(grep -c "^I:" "${deb%.deb}.lintian") information, $(grep -c "^P:" "${deb%.deb}.lintian") pedantic, $(grep -c "^O:" "${deb%.deb}.lintian") overridden"
        echo "desktop-file-validate:"; desktop-file-validate "$x"/usr/share/applications/*.desktop && echo "  (no remark)"
        echo "appstreamcli $(appstreamcli --version | sed -n "s/^AppStream version: //p") validate --pedantic:"
        appstreamcli validate --pedantic --no-net "$x"/usr/share/metainfo/*.xml; rm -rf "$x"'
    if [[ -n $in_root ]]; then
        unshare -m --propagation private sh -c 'mount -t proc proc "$1/proc" && mount --bind "$2" "$1/build/out" &&
            exec chroot "$1" env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 sh -c "$3" sh "/build/out/src/${4##*/}"' \
            sh "$in_root" "$out" "$checks" "$deb" >"$out/checks.txt" 2>&1
    else
        sh -c "$checks" sh "$deb" >"$out/checks.txt" 2>&1
    fi
    sed 's/^/package: /' "$out/checks.txt" >&2
fi
echo "$deb"
