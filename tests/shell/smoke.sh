#!/usr/bin/env bash
# Starts the program offscreen with a throw-away database, lets it run, ends it with SIGTERM and
# expects a clean exit.
set -u
bin="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" POLVARINE_DB="$tmp/polvarine.sqlite3"
export QT_QPA_PLATFORM=offscreen
"$bin" >"$tmp/out.log" 2>&1 &
pid=$!
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  echo "the program ended on its own:"; cat "$tmp/out.log"; exit 1
fi
kill -TERM "$pid"
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "the program did not end after SIGTERM"; kill -KILL "$pid"; exit 1
fi
wait "$pid"; rc=$?
if [ "$rc" -ne 0 ]; then
  echo "exit code $rc:"; cat "$tmp/out.log"; exit 1
fi
echo "smoke: ok"
