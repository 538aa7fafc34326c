#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal root of its release (mmdebstrap) with apt, as a
# household would, and checks it there:
#   - `polvarine --version` answers;
#   - the previous package, then this one over it: the program starts under Xvfb inside the
#     network lab (tests/lab/run-in-lab.sh; the root is entered from the lab's client namespace)
#     and stores measurements for 20 s; the upgrade keeps that database and the settings, and
#     the new program goes on writing to it;
#   - the data and settings folders are 0700 and the database and settings files 0600, after the
#     first start and after the upgraded program's start on files left readable to everyone;
#   - nothing is setuid, setgid or carries file capabilities;
#   - `apt remove` takes every file of the package and leaves the user's data.
#
#   scripts/check-package.sh [--release bookworm|trixie] [out dir]
#       (release: 12, 13 or the code name, default the machine's own; out dir: default
#       build-pkg/<release>, where scripts/package.sh puts it)
#
# The package is the one scripts/package.sh built; the previous one is the same sources packed
# as 0.9.0 (scripts/package.sh --as-version), built here when it is missing. Needs root (chroot,
# the lab), mmdebstrap and the Debian mirror (the one apt is configured with for the machine's own
# release, else POLVARINE_DEBIAN_MIRROR, default http://deb.debian.org/debian). A screenshot of the
# program started from the package on a 1366x768 screen is left in <out dir>/check/polvarine-installed.png.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root_dir=$(cd "$here/.." && pwd)
say() { echo "check-package: $*"; }
die() { echo "check-package: FAIL: $*" >&2; exit 1; }
RUN_SECONDS=20
USER_NAME=householder

# ---- inside the lab: run the installed program for a while, then report --------------------------
# lab-run <chroot> <png or ->
if [[ ${1:-} == lab-run ]]; then
    chroot_dir=$2 png=$3
    # `ip netns exec` gave this process a mount namespace of its own: these mounts end with it.
    mount -t proc proc "$chroot_dir/proc" || die "cannot mount /proc in the root"
    mount -t tmpfs -o mode=1777 tmpfs "$chroot_dir/tmp" || die "cannot mount /tmp in the root"
    chroot "$chroot_dir" install -d -m 0700 -o "$USER_NAME" -g "$USER_NAME" /tmp/runtime || die "no runtime folder"
    cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"   # the lab's resolver
    display=$((200 + $$ % 500))
    # The X server's abstract socket belongs to the network namespace, which the root shares.
    Xvfb ":$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
    for _ in $(seq 100); do xdpyinfo -display ":$display" >/dev/null 2>&1 && break; sleep 0.1; done
    xdpyinfo -display ":$display" >/dev/null 2>&1 || die "Xvfb did not start"
    # A window manager, when there is one, so that the welcome sheet is drawn as on a desktop.
    if command -v openbox >/dev/null; then
        DISPLAY=":$display" openbox >/dev/null 2>&1 &
        wm=$!
        trap 'kill $wm $xvfb 2>/dev/null; wait $wm $xvfb 2>/dev/null' EXIT
    fi
    home=/home/$USER_NAME
    chroot --userspec="$USER_NAME:$USER_NAME" "$chroot_dir" env -i PATH=/usr/bin:/bin HOME="$home" \
        USER="$USER_NAME" DISPLAY=":$display" XDG_RUNTIME_DIR=/tmp/runtime LANG=C.UTF-8 TZ=Europe/Budapest \
        POLVARINE_CAPTIVE_URL="http://10.79.0.1/hotspot-detect.html" POLVARINE_DNS_ZONE=lab.polvarine.example \
        polvarine >"$chroot_dir$home/polvarine.log" 2>&1 &
    program=$!
    sleep $((RUN_SECONDS - 4))
    # ImageMagick's import reads each window: `xwd -root` hands back the welcome sheet over the
    # main window as a black square, while the screen memory holds it drawn.
    if [[ $png != - ]] && command -v import >/dev/null; then
        import -display ":$display" -window root "$png" 2>/dev/null
    fi
    sleep 4
    kill -0 $program 2>/dev/null || { tail -n 20 "$chroot_dir$home/polvarine.log"; die "the program ended before $RUN_SECONDS s"; }
    kill -TERM $program
    for _ in $(seq 100); do kill -0 $program 2>/dev/null || break; sleep 0.1; done
    kill -0 $program 2>/dev/null && { kill -KILL $program; die "the program did not end on SIGTERM"; }
    wait $program
    exit 0
fi

# ---- outside: build what is missing, make the root, install, run, upgrade, remove ----------------
[[ $(id -u) -eq 0 ]] || die "needs root (chroot and the network lab)"
release=""
if [[ ${1:-} == --release ]]; then release=${2:-}; shift 2; fi
host_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case "${release:-$host_release}" in
    12|bookworm) release=bookworm ;;
    13|trixie) release=trixie ;;
    *) die "unknown release '${release:-$host_release}' (bookworm or trixie)" ;;
esac
out=${1:-$root_dir/build-pkg/$release}
mkdir -p "$out" && out=$(cd "$out" && pwd)
need=()
for tool in mmdebstrap:mmdebstrap Xvfb:xvfb xdpyinfo:x11-utils import:imagemagick sqlite3:sqlite3 \
            getcap:libcap2-bin ip:iproute2 nft:nftables; do
    command -v "${tool%%:*}" >/dev/null || need+=("${tool#*:}")
done
if ((${#need[@]})); then
    say "installing ${need[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null \
        || die "could not install ${need[*]}"
fi
version=$(cd "$root_dir" && dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
previous_version=${PV_PREVIOUS_VERSION:-0.9.0}
deb="$out/src/polvarine_${version}_$arch.deb"
previous="$out/src/polvarine_${previous_version}_$arch.deb"
if [[ ! -f $previous ]]; then
    say "building the previous package ($previous_version)"
    bash "$here/package.sh" --release "$release" --out "$out" --as-version "$previous_version" >/dev/null 2>&1 || die "the previous package did not build"
fi
[[ -f $deb ]] || { say "building the package"; bash "$here/package.sh" --release "$release" --out "$out" >/dev/null || die "the package did not build"; }
say "package $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
say "previous $(basename "$previous")"

work="$out/check"
chroot_dir="$work/root"
rm -rf "$work" && mkdir -p "$work"
cleanup() { umount -R "$chroot_dir/proc" 2>/dev/null; rm -rf "$chroot_dir"; }
trap cleanup EXIT

sources=()
if [[ $release == "$host_release" ]]; then
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -s $f ]] && grep -qv '^\s*#' "$f" && grep -qw "$release" "$f" && sources+=("$f")
    done
else
    mirror=${POLVARINE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
    sources=("deb $mirror $release main" "deb $mirror $release-updates main"
             "deb ${mirror%/debian}/debian-security $release-security main")
fi
say "making a minimal $release root"
mmdebstrap --variant=minbase --quiet --aptopt='Acquire::Check-Valid-Until "false"' \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    "$release" "$chroot_dir" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1 || { tail "$work/mmdebstrap.log"; die "mmdebstrap failed"; }
say "root: Debian $(cat "$chroot_dir/etc/debian_version")"
in_root() { unshare -m --propagation private sh -c 'mount -t proc proc "$0/proc" && exec chroot "$@"' "$chroot_dir" "$chroot_dir" "$@"; }
in_root useradd -m -s /bin/sh "$USER_NAME" || die "no user in the root"
in_root apt-get update -qq >"$work/apt.log" 2>&1 || die "apt-get update failed in the root"
mkdir -p "$chroot_dir/var/tmp/pkgs" && cp "$deb" "$previous" "$chroot_dir/var/tmp/pkgs/"
apt_install() {
    in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" >>"$work/apt.log" 2>&1
}
home=$chroot_dir/home/$USER_NAME
db=$home/.local/share/Polvarine/polvarine.sqlite3
settings=$home/.config/Polvarine/Polvarine.ini
rows() { sqlite3 "file:$db?mode=ro" "SELECT COUNT(*) FROM network_samples" 2>/dev/null || echo 0; }
# Seconds between the first and the last sample stored since <time>.
span_since() { sqlite3 "file:$db?mode=ro" "SELECT CAST(MAX(timestamp) - MIN(timestamp) AS INTEGER) FROM network_samples WHERE timestamp >= $1" 2>/dev/null || echo 0; }
run_in_lab() { "$root_dir/tests/lab/run-in-lab.sh" "$here/check-package.sh" lab-run "$chroot_dir" "$1"; }

# 1. The previous package, as a household installs a downloaded file.
apt_install "/var/tmp/pkgs/$(basename "$previous")" || { tail "$work/apt.log"; die "apt could not install the previous package"; }
[[ $(in_root polvarine --version) == "Polvarine $previous_version" ]] || die "the previous --version says: $(in_root polvarine --version)"
say "installed $previous_version with apt; --version: $(in_root polvarine --version)"
started=$(date +%s)
run_in_lab - || die "the previous program did not run in the lab"
before=$(rows)
span=$(span_since "$started")
[[ $before -gt 0 && ${span:-0} -ge $((RUN_SECONDS / 2)) ]] || { tail -n 20 "$home/polvarine.log"; die "the previous program stored $before samples over ${span:-0} s"; }
say "the previous program ran ${RUN_SECONDS} s under Xvfb in the lab and stored $before samples over $span s"
# The user's own files: private from the first start on.
modes() { stat -c '%a %n' "${db%/*}" "$db" "${settings%/*}" "$settings" | sed "s|$home/||" | paste -sd' '; }
private() { [[ $(stat -c %a "${db%/*}" "${settings%/*}" | paste -sd' ') == "700 700" && \
               $(stat -c %a "$db" "$settings" | paste -sd' ') == "600 600" ]]; }
# A setting of the user's, kept by the upgrade and by the next start (Qt keeps keys it does not know).
mkdir -p "${settings%/*}" && printf '[check]\nkept=%s\n' "$previous_version" >>"$settings"
chown -R --reference="$home" "$home/.config"
private || die "not private after the first start: $(modes)"
say "after the first start: $(modes)"
# As an installation of a version that left them readable to everyone.
chmod 0755 "${db%/*}" "${settings%/*}" && chmod 0644 "$db" "$settings"
settings_sum=$(sha256sum <"$settings")
db_inode=$(stat -c %i "$db")

# 2. This package over it.
apt_install "/var/tmp/pkgs/$(basename "$deb")" || { tail "$work/apt.log"; die "apt could not upgrade"; }
[[ $(in_root dpkg-query -W -f='${Version}' polvarine) == "$version" ]] || die "the upgrade did not take"
answer=$(in_root polvarine --version)
[[ $answer == "Polvarine $version" ]] || die "--version says: $answer"
say "upgraded to $version with apt; --version: $answer"
[[ $(rows) -eq $before && $(stat -c %i "$db") == "$db_inode" ]] || die "the upgrade touched the database ($(rows) rows)"
[[ $(sha256sum <"$settings") == "$settings_sum" ]] || die "the upgrade touched the settings"
say "the upgrade kept the database ($before samples) and the settings"
started=$(date +%s)
run_in_lab "$work/polvarine-installed.png" || die "the upgraded program did not run in the lab"
after=$(rows)
span=$(span_since "$started")
[[ $after -gt $before && ${span:-0} -ge $((RUN_SECONDS / 2)) ]] || die "the upgraded program stored $((after - before)) samples over ${span:-0} s"
grep -qx "kept=$previous_version" "$settings" || die "the upgraded program lost the user's settings"
private || die "the upgraded program left its files readable: $(modes)"
say "after the upgraded program's start on a 0755/0644 installation: $(modes)"
say "the upgraded program ran ${RUN_SECONDS} s on the kept database and settings: $before -> $after samples (over $span s)"

# 3. No setuid, setgid or file capabilities.
mapfile -t files < <(in_root dpkg-query -L polvarine | while read -r f; do [[ -f $chroot_dir$f && ! -L $chroot_dir$f ]] && echo "$f"; done)
for f in "${files[@]}"; do
    [[ -z $(find "$chroot_dir$f" -perm /6000) ]] || die "$f is setuid or setgid"
    [[ -z $(getcap "$chroot_dir$f" 2>/dev/null) ]] || die "$f carries file capabilities: $(getcap "$chroot_dir$f")"
done
say "${#files[@]} files, none setuid, setgid or with capabilities"

# 4. Removal takes the package's files and nothing of the user's.
mapfile -t owned < <(in_root dpkg-query -L polvarine | grep -v '^/\.$')
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q polvarine >>"$work/apt.log" 2>&1 || die "apt remove failed"
left=()
for f in "${owned[@]}"; do
    [[ -e $chroot_dir$f && ! -d $chroot_dir$f ]] && left+=("$f")
    [[ -d $chroot_dir$f && $f == */polvarine ]] && left+=("$f/")
done
((${#left[@]} == 0)) || die "removal left: ${left[*]}"
in_root dpkg-query -W -f='${db:Status-Abbrev}' polvarine 2>/dev/null | grep -q '^ii' && die "the package is still installed"
[[ $(rows) -eq $after ]] || die "removal touched the user's database"
say "apt remove took all ${#owned[@]} paths of the package; the user's database ($after samples) stays"
say "ok"
