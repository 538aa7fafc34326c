#!/usr/bin/env bash
# Whether the welcome sheet has the keyboard on a first launch under a real window manager: the
# polvarine binary under Xvfb with openbox, inside the network lab, started N times (default 7) with
# empty settings and database. Each time it notes which window is active once both windows are up,
# then presses Return three times without touching the mouse: the sheet steps through its three
# pages and is finished only if it kept the keyboard (the settings then say the welcome was seen).
#
#   scripts/welcome-focus.sh <build dir> [launches]
#
# Needs root (the lab; Xvfb, openbox, xdotool and xprop are installed with apt-get when missing).
# Bounded: every wait has a time-out. Exits 0 when every launch finished the sheet.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
[[ $# -ge 1 ]] || { echo "usage: scripts/welcome-focus.sh <build dir> [launches]" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "welcome-focus: needs root (the network lab)" >&2; exit 1; }

if [[ -z ${PV_LAB:-} ]]; then
    declare -A tools=([Xvfb]=xvfb [xdotool]=xdotool [openbox]=openbox [xprop]=x11-utils)
    missing=()
    for tool in "${!tools[@]}"; do command -v "$tool" >/dev/null 2>&1 || missing+=("${tools[$tool]}"); done
    if ((${#missing[@]})); then
        DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || exit 1
    fi
    exec "$root/tests/lab/run-in-lab.sh" "$0" "$@"
fi

build=$(cd "$1" && pwd)
launches=${2:-7}
[[ -x $build/app/polvarine ]] || { echo "welcome-focus: no $build/app/polvarine" >&2; exit 1; }
tmp=$(mktemp -d /tmp/pv-welcome.XXXXXX)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -s $tmp/display ]] && break; sleep 0.2; done
export DISPLAY=":$(head -1 "$tmp/display")"
for _ in $(seq 50); do xprop -root >/dev/null 2>&1 && break; sleep 0.2; done
openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.2; done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || { echo "welcome-focus: no window manager" >&2; exit 1; }

finished=0
for ((n = 1; n <= launches; ++n)); do
    run=$tmp/run-$n
    mkdir -p "$run/home" "$run/config" "$run/data" "$run/rt"
    chmod 700 "$run/rt"
    HOME=$run/home XDG_CONFIG_HOME=$run/config XDG_DATA_HOME=$run/data XDG_RUNTIME_DIR=$run/rt QT_QPA_PLATFORM=xcb \
    POLVARINE_DB=$run/polvarine.sqlite3 LANG=hu_HU.UTF-8 LC_ALL=hu_HU.UTF-8 TZ=Europe/Budapest \
        "$build/app/polvarine" >"$run/log" 2>&1 &
    app=$!
    # Both windows of the program: the main window and the sheet over it.
    windows=""
    for _ in $(seq 100); do
        windows=$(xdotool search --all --onlyvisible --pid "$app" 2>/dev/null | sort -n)
        (($(wc -w <<<"$windows") >= 2)) && break
        sleep 0.2
    done
    sleep 2 # as a user would look before pressing a key; the window manager has settled by then
    main=$(xdotool search --all --onlyvisible --pid "$app" --name '^Polvarine$' 2>/dev/null | sort -n | head -1)
    active=$(xdotool getactivewindow 2>/dev/null)
    which=other
    [[ $active == "$main" ]] && which=main
    [[ -n $active && $active != "$main" ]] && grep -qx "$active" <<<"$windows" && which=sheet
    for _ in 1 2 3; do xdotool key Return; sleep 0.5; done
    ini=$run/config/Polvarine/Polvarine.ini
    done_=no
    for _ in $(seq 25); do grep -q 'workspace.didWelcome=true' "$ini" 2>/dev/null && { done_=yes; break; }; sleep 0.2; done
    [[ $done_ == yes ]] && ((++finished))
    echo "launch $n: active window: $which ($(xdotool getwindowname "$active" 2>/dev/null)); three Returns finished the sheet: $done_"
    kill -TERM "$app" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$app" 2>/dev/null
    wait "$app" 2>/dev/null
done
echo "welcome-focus: $finished of $launches launches finished the sheet from the keyboard"
((finished == launches))
