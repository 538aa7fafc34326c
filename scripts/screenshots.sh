#!/usr/bin/env bash
# Screenshots of the real program as a user sees it: the polvarine binary under Xvfb with a window
# manager (openbox), a system tray (trayer) and a notification daemon (dunst on a private session bus),
# inside the network lab, in light and dark at text scale 1.0 and 1.5. For each of the four it saves
# the welcome steps (fresh database and settings), then, on a month of evidence that ends now, the
# overview after a minute of measuring, the tray panel, history (day, week, month), settings (top to
# bottom), the dossier screen and one dossier PDF (as PNG pages), the load-test screen, the File and
# Help menus, an export of today, and the overview, history and settings again at the smallest window (1080×600),
# in the first and last combination also an outage (the router stops forwarding) with its desktop
# notification, and the overview, "Most", tray icon and panel in its first minute, during it and 90 s
# after it ends, then a congestion (a deep queue on the router's line) in its first minute, during it
# and 90 s after it ends;
# last, a start whose database cannot be created (the storage banner, and an export of what is in memory).
#
#   scripts/screenshots.sh <build dir> <out dir>
#
# The program runs as a Hungarian user's would: Hungarian locale, Budapest time.
# Needs root (the lab; missing packages are installed by name with apt-get), the polvarine binary
# (target polvarine), sqlite3, pdftoppm, and the benchmark month (run build/bench/store/pv_bench_store
# once; POLVARINE_BENCH_CACHE as there). Bounded: every wait has a time-out; the whole run takes about
# eight minutes. POLVARINE_SHOTS_ONLY="dark-1.5" (space-separated) limits the combinations.
# POLVARINE_SHOTS_LIFE=1 plays the faults' lives instead of the tour (about 25 minutes a combination):
# the live screens 5 to 90 s into a cut and a dead resolver and 15 to 60 s after each, a spell
# without a default route, and a congestion, its route chart again 20 minutes after it ended.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
[[ $# -eq 2 ]] || { echo "usage: scripts/screenshots.sh <build dir> <out dir>" >&2; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "screenshots: needs root (the network lab)" >&2; exit 1; }

if [[ -z ${PV_LAB:-} ]]; then
    # Tools by the Debian package that carries them.
    declare -A tools=([Xvfb]=xvfb [xdotool]=xdotool [openbox]=openbox [trayer]=trayer [dunst]=dunst
                      [dbus-daemon]=dbus-daemon [xwd]=x11-apps [import]=imagemagick [pdftoppm]=poppler-utils
                      [sqlite3]=sqlite3 [xprop]=x11-utils)
    missing=()
    for tool in "${!tools[@]}"; do command -v "$tool" >/dev/null 2>&1 || missing+=("${tools[$tool]}"); done
    if ((${#missing[@]})); then
        echo "screenshots: installing ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive timeout 600 apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || exit 1
    fi
    exec "$root/tests/lab/run-in-lab.sh" "$0" "$@"
fi

build=$(cd "$1" && pwd)
mkdir -p "$2/logs" && out=$(cd "$2" && pwd)
rm -f "$out"/logs/*.log
[[ -x $build/app/polvarine ]] || { echo "screenshots: no $build/app/polvarine (build target polvarine)" >&2; exit 1; }
cache=${POLVARINE_BENCH_CACHE:-/tmp/polvarine-bench}
source_db=$(ls -v "$cache"/standard-retention-v*.sqlite3 2>/dev/null | tail -1)
[[ -n $source_db && -f $source_db ]] || { echo "screenshots: no standard-retention month in $cache" >&2; exit 1; }

tmp=$(mktemp -d /tmp/pv-shots.XXXXXX)
pids=()
desktop=()
cleanup() {
    local p
    for p in "${desktop[@]}" "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
log() { echo "screenshots: $*"; }

# The month, copied (the cache stays as it is) and moved so that it ends now, by whole hours.
month="$tmp/month.sqlite3"
cp "$source_db" "$month"
shift_by=$(( ( $(date +%s) - 1767225600 ) / 3600 * 3600 ))
"$root/scripts/shift-month.sh" "$month" "$shift_by" || exit 1

# The lab internet's DNS answers every name with its services address; the captive page is served there.
for server in dns http; do
    # Over both families, as a dual-stack home's internet answers: the lab routes IPv6 too.
    args=(--bind "$PV_LAB_SERVICES_ADDR" --bind6 "$PV_LAB_SERVICES_ADDR6" --port-file "$tmp/$server.port" --lifetime 3600)
    [[ $server == dns ]] && args+=(--port 53 --mode answer --address "$PV_LAB_SERVICES_ADDR"
        --address6 "$PV_LAB_SERVICES_ADDR6") || args+=(--port 80)
    ip netns exec "$PV_LAB_INET_NS" python3 "$root/tests/lab/servers/${server}_server.py" "${args[@]}" >/dev/null 2>&1 &
    pids+=($!)
done
for _ in $(seq 50); do [[ -f $tmp/dns.port && -f $tmp/http.port ]] && break; sleep 0.2; done

# ---- The desktop: X server, window manager, tray, notification daemon -------------------------------
desktop_up() {
    desktop=()
    rm -f "$tmp/display"
    Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
    desktop+=($!)
    for _ in $(seq 50); do [[ -s $tmp/display ]] && break; sleep 0.2; done
    export DISPLAY=":$(head -1 "$tmp/display")"
    for _ in $(seq 50); do xprop -root >/dev/null 2>&1 && break; sleep 0.2; done
    dbus-daemon --session --fork --print-address=4 --print-pid=5 4>"$tmp/bus" 5>"$tmp/bus.pid" || return 1
    desktop+=($(cat "$tmp/bus.pid"))
    export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$tmp/bus")
    openbox >>"$out/logs/desktop.log" 2>&1 &
    desktop+=($!)
    for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.2; done
    # Without a window manager the welcome sheet would lie under the main window.
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || { log "no window manager"; return 1; }
    trayer --edge bottom --align right --widthtype request --height 28 --SetDockType true --SetPartialStrut true \
        --transparent false --tint 0x303030 >>"$out/logs/desktop.log" 2>&1 &
    desktop+=($!)
    dunst >>"$out/logs/desktop.log" 2>&1 &
    desktop+=($!)
    sleep 1
}
desktop_down() {
    local p
    for p in "${desktop[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${desktop[@]}"; do while kill -0 "$p" 2>/dev/null; do sleep 0.1; done; done
    desktop=()
}

# ---- The program ---------------------------------------------------------------------------------
app=""
window=""
launch() { # launch <database> <config dir> <appearance> <scale>
    mkdir -p "$tmp/home" "$tmp/data" "$tmp/run"
    chmod 700 "$tmp/run"
    unset WAYLAND_DISPLAY
    HOME=$tmp/home XDG_CONFIG_HOME=$2 XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp/run QT_QPA_PLATFORM=xcb \
    POLVARINE_DB=$1 POLVARINE_UPDATE_FEED="http://$PV_LAB_SERVICES_ADDR/appcast.json" \
    POLVARINE_APPEARANCE=$3 POLVARINE_TEXT_SCALE=$4 LANG=hu_HU.UTF-8 LC_ALL=hu_HU.UTF-8 TZ=Europe/Budapest \
        "$build/app/polvarine" >>"$out/logs/polvarine.log" 2>&1 &
    app=$!
    window=""
    for _ in $(seq 100); do
        # The main window is the program's first top-level window.
        window=$(windows | head -1)
        [[ -n $window ]] && break
        sleep 0.2
    done
    [[ -n $window ]] || { log "no window after 20 s"; tail -20 "$out/logs/polvarine.log"; return 1; }
    sleep 2
}
# The program's visible top-level windows, oldest first.
windows() { xdotool search --all --onlyvisible --pid "$app" --name '^Polvarine$' 2>/dev/null | sort -n; }
quit_app() {
    [[ -n $app ]] || return
    kill -TERM "$app" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$app" 2>/dev/null
    wait "$app" 2>/dev/null
    app=""
}

shot() { # shot <name> [settle seconds]
    sleep "${2:-1}"
    import -window root "$out/$prefix-$1.png" 2>/dev/null || xwd -root -silent | convert xwd:- "$out/$prefix-$1.png"
}
key() { xdotool key --clearmodifiers "$@"; sleep 0.4; }
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.4; }
# The sidebar: the first row is clicked, the others are reached with the arrow keys; the list keeps
# the keyboard focus, so Tab goes on to the screen's first control.
section() { # section <row index>
    xdotool windowactivate --sync "$window" 2>/dev/null
    click 60 40
    key Home
    local i
    for ((i = 0; i < $1; ++i)); do key Down; done
    xdotool mousemove 1430 10
}
# "Exportálás" in the overview's toolbar, three Tab stops after the sidebar (the status row's button
# and the toolbar's pause button come first), then its first item.
export_today() { # export_today <name of the menu's shot>
    section 0
    key Tab; key Tab; key Tab; key space
    shot "$1"
    key Down; key Return
}
# The tray icon: the program's small embedded window inside the tray.
tray_icon() {
    local w
    for w in $(xdotool search --all --pid "$app" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
        if ((WIDTH >= 8 && WIDTH <= 64 && HEIGHT >= 8 && HEIGHT <= 64)); then echo "$w"; return; fi
    done
}

# The live picture: the overview's top, its "Most" section (scrolled with the wheel), the tray icon
# (in the full-screen picture) and the tray panel.
live_screens() { # live_screens <prefix>
    section 0
    xdotool mousemove 1430 10
    shot "$1-overview" 1
    xdotool mousemove --window "$window" 700 500
    local i
    for ((i = 0; i < 6; ++i)); do xdotool click 5; sleep 0.1; done
    shot "$1-most" 1
    for ((i = 0; i < 12; ++i)); do xdotool click 4; sleep 0.05; done
    local icon
    icon=$(tray_icon)
    if [[ -n $icon ]]; then
        eval "$(xdotool getwindowgeometry --shell "$icon")"
        xdotool mousemove --window "$icon" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
        shot "$1-tray-panel" 2
        key Escape
    else
        log "no tray icon"
    fi
}

# A congestion: a deep queue on the router's line (tbf at 4 Mbit/s, kept 300 ms full by a paced load
# from the router to the lab's internet, for 150 s at most) adds about 290 ms beyond the router and
# loses nothing. The overview 40 s in, once a whole minute has shown it, and 90 s after it ends.
congestion_screens() {
    ip netns exec "$PV_LAB_ROUTER_NS" tc qdisc add dev wan0 root tbf rate 4mbit burst 3000 limit 600000
    ip netns exec "$PV_LAB_ROUTER_NS" timeout 160 python3 - "$PV_LAB_SERVICES_ADDR" <<'PY' &
import re, socket, subprocess, sys, time
target, end = 4e6 / 8 * 0.300, time.monotonic() + 150
sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sender.setsockopt(socket.SOL_SOCKET, 32, 8 << 20)  # SO_SNDBUFFORCE: the queued bytes count against it
while time.monotonic() < end:
    found = re.search(r"backlog (\d+)b", subprocess.run(["tc", "-s", "qdisc", "show", "dev", "wan0"],
                                                         capture_output=True, text=True).stdout)
    for _ in range(max(0, int((target - (int(found.group(1)) if found else 0)) // 1428))):
        sender.sendto(bytes(1400), (sys.argv[1], 9))
    time.sleep(0.02)
PY
    local load=$!
    sleep 40; section 0; shot congestion-first-minute-overview 1
    sleep 60; live_screens congestion
    kill "$load" 2>/dev/null; wait "$load" 2>/dev/null
    ip netns exec "$PV_LAB_ROUTER_NS" tc qdisc del dev wan0 root
    sleep 90
    live_screens congestion-cleared
}

# A fault from now: the live screens 5, 15, 30, 60 and 90 s into it; it ends at 120 s, and the live
# screens again 15, 30 and 60 s after.
fault_life() { # fault_life <name> <start command> <end command>
    local begun i
    begun=$(date +%s)
    eval "$2"
    for i in 5 15 30 60 90; do
        sleep $(( begun + i - $(date +%s) > 0 ? begun + i - $(date +%s) : 0 ))
        live_screens "$1-into-${i}s"
    done
    sleep $(( begun + 120 - $(date +%s) > 0 ? begun + 120 - $(date +%s) : 0 ))
    eval "$3"
    for i in 15 30 60; do
        sleep $(( begun + 120 + i - $(date +%s) > 0 ? begun + 120 + i - $(date +%s) : 0 ))
        live_screens "$1-after-${i}s"
    done
}
life_screens() {
    xdotool windowsize "$window" 1400 860; sleep 1
    live_screens life-start
    congestion_screens
    local cleared
    cleared=$(date +%s)
    fault_life cut "ip netns exec \"\$PV_LAB_ROUTER_NS\" nft 'add table inet pvshots; add chain inet pvshots forward { type filter hook forward priority -10; policy drop; }'" \
        "ip netns exec \"\$PV_LAB_ROUTER_NS\" nft delete table inet pvshots"
    # The router's resolver stops answering; every other path stays.
    fault_life dns "ip netns exec \"\$PV_LAB_ROUTER_NS\" nft 'add table ip pvdns; add chain ip pvdns pre { type filter hook prerouting priority -150; }; add rule ip pvdns pre ip daddr 10.77.0.1 udp dport 53 drop; add rule ip pvdns pre ip daddr 10.77.0.1 tcp dport 53 drop'" \
        "ip netns exec \"\$PV_LAB_ROUTER_NS\" nft delete table ip pvdns"
    ip route del default
    sleep 30; live_screens noroute-30s
    ip route add default via "$PV_LAB_GATEWAY" dev lan0
    sleep $(( cleared + 1200 - $(date +%s) > 0 ? cleared + 1200 - $(date +%s) : 0 ))
    live_screens congestion-after-20min
    section 0
    xdotool mousemove --window "$window" 700 500
    for ((i = 0; i < 20; ++i)); do xdotool click 5; sleep 0.1; done
    shot congestion-after-20min-route 1
}

combos=${POLVARINE_SHOTS_ONLY:-"light-1.0 dark-1.0 light-1.5 dark-1.5"}
# Where an outage is played (the router stops forwarding, then forwards again): the first and the
# last combination unless POLVARINE_SHOTS_OUTAGE names others.
outage_combos=${POLVARINE_SHOTS_OUTAGE:-"${combos%% *} ${combos##* }"}
for combo in $combos; do
    appearance=${combo%-*}
    scale=${combo#*-}
    prefix=$combo
    log "$combo"
    desktop_up || { desktop_down; desktop_up; } || { log "the desktop did not start"; exit 1; }

    # A first launch: no database, no settings, the welcome steps.
    rm -rf "$tmp/fresh" && mkdir -p "$tmp/fresh/config"
    if launch "$tmp/fresh/polvarine.sqlite3" "$tmp/fresh/config" "$appearance" "$scale"; then
        welcome=""
        for _ in $(seq 50); do
            for w in $(xdotool search --all --onlyvisible --pid "$app" 2>/dev/null); do
                eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)"
                [[ $w != "$window" ]] && ((WIDTH > 64)) && welcome=$w
            done
            [[ -n $welcome ]] && break
            sleep 0.2
        done
        [[ -n $welcome ]] && xdotool windowactivate --sync "$welcome" 2>/dev/null || log "no welcome window"
        shot welcome-0 2
        key Return; shot welcome-1
        key Return; shot welcome-2
        key Return; shot welcome-closed 2
    fi
    quit_app

    # A month of evidence, the welcome done.
    rm -rf "$tmp/run-month" && mkdir -p "$tmp/run-month/config/Polvarine"
    cp "$month" "$tmp/run-month/polvarine.sqlite3"
    printf '[General]\nworkspace.didWelcome=true\npolvarine.notifyOnOutage=true\n' > "$tmp/run-month/config/Polvarine/Polvarine.ini"
    if launch "$tmp/run-month/polvarine.sqlite3" "$tmp/run-month/config" "$appearance" "$scale"; then
        started=$(date +%s)
        if [[ -n ${POLVARINE_SHOTS_LIFE:-} ]]; then
            sleep 60
            life_screens
            quit_app
            desktop_down
            continue
        fi
        # The screens that show stored evidence first; the overview once a minute has been measured.
        section 1
        shot history-day 3
        key Tab; key Tab; key Tab; key Right; shot history-week 3
        key Right; shot history-month 4
        section 4
        shot settings-top 2
        for page in 1 2 3; do
            xdotool mousemove --window "$window" 700 500 click 5 click 5 click 5 click 5 click 5 click 5 click 5 click 5
            shot "settings-$page"
        done
        section 2
        shot loadtest 2
        section 3
        shot dossier 2
        # Past the sidebar button: picker, switch, then the create button (the page itself is no stop).
        key Tab; key Tab; key Tab; key Tab; key space
        for _ in $(seq 60); do pdf=$(find "$tmp/home" -name '*.pdf' 2>/dev/null | head -1); [[ -n $pdf ]] && break; sleep 0.5; done
        shot dossier-created 2
        if [[ -n $pdf ]]; then
            pdftoppm -r 50 -f 1 -l 3 -png "$pdf" "$out/$prefix-dossier-pdf"
            rm -f "$pdf"
        else
            log "no dossier PDF"
        fi
        section 0
        click 18 10; shot menu-file
        key Right; shot menu-help
        key Escape; key Escape
        wait_for=$(( started + ${POLVARINE_SHOTS_MEASURE:-60} - $(date +%s) ))
        ((wait_for > 0)) && sleep "$wait_for"
        shot overview
        icon=$(tray_icon)
        if [[ -n $icon ]]; then
            eval "$(xdotool getwindowgeometry --shell "$icon")"
            xdotool mousemove --window "$icon" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
            shot tray-panel 2
            key Escape
        else
            log "no tray icon"
        fi
        export_today export-menu
        shot export-done 3
        xdotool windowsize "$window" 1080 600; sleep 1
        shot small-overview 2
        section 1
        shot small-history 3
        section 4
        shot small-settings 2
        section 0
        if [[ " $outage_combos " == *" $combo "* ]]; then
            # The router stops forwarding (it still answers itself) until the outage notification
            # shows; a rule, not a link taken down, so the router's routes stay for the rest. The
            # overview (its top and "Most"), the tray icon and the panel during the outage, then again
            # 90 s after the router forwards again: nothing may be accused then.
            xdotool windowsize "$window" 1400 860; sleep 1
            ip netns exec "$PV_LAB_ROUTER_NS" nft -f - <<'NFT'
table inet pvshots {
    chain forward { type filter hook forward priority -10; policy drop; }
}
NFT
            # Its first minute, before a minute of batches has shown it: no leg may be said to answer.
            sleep 40; shot outage-first-minute-overview 1
            for _ in $(seq 50); do xdotool search --onlyvisible --class dunst >/dev/null 2>&1 && break; sleep 1; done
            if xdotool search --onlyvisible --class dunst >/dev/null 2>&1; then shot notification 1; else log "no notification within 90 s"; fi
            dunstctl close-all 2>/dev/null
            live_screens outage
            ip netns exec "$PV_LAB_ROUTER_NS" nft delete table inet pvshots
            sleep 90
            live_screens cleared
            congestion_screens
        fi
    fi
    quit_app

    # A database path under a plain file: nothing can be stored and the overview says so; an export
# still writes what this run measured.
    rm -rf "$tmp/broken" && mkdir -p "$tmp/broken/config/Polvarine" && touch "$tmp/broken/not-a-folder"
    printf '[General]\nworkspace.didWelcome=true\n' > "$tmp/broken/config/Polvarine/Polvarine.ini"
    if launch "$tmp/broken/not-a-folder/polvarine.sqlite3" "$tmp/broken/config" "$appearance" "$scale"; then
        shot storage-banner 3
        export_today storage-export-menu
        shot storage-export 3
    fi
    quit_app
    desktop_down
done
log "done: $(ls "$out" | wc -l) files in $out"
