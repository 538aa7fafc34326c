#!/usr/bin/env bash
# Footprint of the real program as a user runs it: the polvarine binary under Xvfb inside the network
# lab, starting from a month of evidence that ends a day ago (so its start-up pass has a day to roll
# up), first with the window shown, then closed into the tray. Prints the CPU share of one core and
# the resident memory of each phase, with the X server's CPU share beside the program's and the load
# average at the end. POLVARINE_APPEARANCE=dark (or light) picks the appearance.
#
#   bench/app/footprint-real.sh <build dir> [shown seconds, default 600] [hidden seconds, default 600]
#
# Needs root (the lab), Xvfb, xdotool, sqlite3, a C compiler with the X11 headers, and the benchmark
# databases (run build/bench/store/pv_bench_store once; POLVARINE_BENCH_CACHE as there).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [[ -z ${PV_LAB:-} ]]; then
    exec "$root/tests/lab/run-in-lab.sh" "$0" "$@"
fi
build=$(cd "$1" && pwd)
shown=${2:-600}
hidden=${3:-600}
cache=${POLVARINE_BENCH_CACHE:-/tmp/polvarine-bench}
# The newest generator version's month under the standard policy.
source_db=$(ls -v "$cache"/standard-retention-v*.sqlite3 2>/dev/null | tail -1)
[[ -n $source_db && -f $source_db ]] || { echo "no standard-retention month in $cache: run pv_bench_store first" >&2; exit 1; }

tmp=$(mktemp -d /tmp/pv-footprint.XXXXXX)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
log() { echo "footprint: $*"; }

# The month moved so that it ends a day ago, by whole hours (roll-up buckets stay aligned).
mkdir -p "$tmp/data" "$tmp/run" "$tmp/config/Polvarine"
chmod 700 "$tmp/run"
db="$tmp/data/polvarine.sqlite3"
cp "$source_db" "$db"
shift_by=$(( ( $(date +%s) - 86400 - 1767225600 ) / 3600 * 3600 ))
"$root/scripts/shift-month.sh" "$db" "$shift_by" || exit 1
log "database: $(sqlite3 "$db" 'SELECT COUNT(*) FROM network_samples') raw samples, newest $(( $(date +%s) - $(sqlite3 "$db" 'SELECT CAST(MAX(timestamp) AS INTEGER) FROM network_samples') )) s ago"

# The lab internet's DNS answers every name with its services address; the captive page is served there.
lifetime=$(( shown + hidden + 120 ))
for server in dns http; do
    args=(--bind "$PV_LAB_SERVICES_ADDR" --port-file "$tmp/$server.port" --lifetime "$lifetime")
    [[ $server == dns ]] && args+=(--port 53 --mode answer --address "$PV_LAB_SERVICES_ADDR") || args+=(--port 80)
    ip netns exec "$PV_LAB_INET_NS" python3 "$root/tests/lab/servers/${server}_server.py" "${args[@]}" >/dev/null 2>&1 &
    pids+=($!)
done
for _ in $(seq 50); do [[ -f $tmp/dns.port && -f $tmp/http.port ]] && break; sleep 0.2; done

Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
xserver=$!
pids+=($xserver)
for _ in $(seq 50); do [[ -s $tmp/display ]] && break; sleep 0.2; done
export DISPLAY=":$(head -1 "$tmp/display")"
cc -O2 -o "$tmp/x11-helper" "$here/x11-helper.c" -lX11 || exit 1
"$tmp/x11-helper" tray &
pids+=($!)
sleep 0.5

printf '[General]\nworkspace.didWelcome=true\n' > "$tmp/config/Polvarine/Polvarine.ini"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
HOME=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp/run QT_QPA_PLATFORM=xcb \
POLVARINE_DB=$db POLVARINE_UPDATE_FEED="http://$PV_LAB_SERVICES_ADDR/appcast.json" \
    "$build/app/polvarine" >"$tmp/polvarine.log" 2>&1 &
app=$!
pids+=($app)
tick=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/${1:-$app}/stat"; }
rss_mb() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$app/status"; }
# phase <name> <seconds>: CPU share and resident memory over the next <seconds>, sampled every 10 s.
phase() {
    local name=$1 seconds=$2 began ticks0 now max=0 rss end
    began=$(date +%s.%N)
    ticks0=$(cpu_ticks)
    xticks0=$(cpu_ticks "$xserver")
    end=$(( $(date +%s) + seconds ))
    while (( $(date +%s) < end )); do
        kill -0 "$app" 2>/dev/null || { log "the program ended during '$name'"; tail -20 "$tmp/polvarine.log"; exit 1; }
        rss=$(rss_mb)
        max=$(awk -v a="$max" -v b="$rss" 'BEGIN {print (b > a) ? b : a}')
        sleep 10
    done
    now=$(date +%s.%N)
    awk -v t0="$ticks0" -v t1="$(cpu_ticks)" -v x0="$xticks0" -v x1="$(cpu_ticks "$xserver")" -v hz="$tick" -v a="$began" -v b="$now" -v name="$name" -v max="$max" -v rss="$(rss_mb)" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" \
        'BEGIN {printf "RESULT %-22s cpu %.3f %% of one core over %.0f s (X server %.3f %%), resident max %.1f MB, at end %.1f MB, load %s\n", name, 100 * (t1 - t0) / hz / (b - a), b - a, 100 * (x1 - x0) / hz / (b - a), max, rss, load}'
}

phase "start-up (first 60 s)" 60
phase "window shown" $(( shown - 60 ))
window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -1)
[[ -n $window ]] || { log "no visible window"; exit 1; }
"$tmp/x11-helper" close "$window"
sleep 2
if xdotool search --onlyvisible --pid "$app" >/dev/null 2>&1; then log "the window is still shown after closing it"; exit 1; fi
phase "hidden in the tray" "$hidden"
log "raw samples now: $(sqlite3 -readonly "$db" 'SELECT COUNT(*) FROM network_samples'), newest batch $(( $(date +%s) - $(sqlite3 -readonly "$db" 'SELECT CAST(MAX(timestamp) AS INTEGER) FROM network_samples') )) s ago"
kill -TERM "$app"
for _ in $(seq 150); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
