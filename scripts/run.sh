#!/usr/bin/env bash
# Installs what is missing, builds Polvarine, installs its desktop entry and icon, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/install-desktop.sh "$PWD/build/app/polvarine"

# Polvarine is a desktop program (a window and a tray icon); it has no command-line mode.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
run: no graphical display here (DISPLAY and WAYLAND_DISPLAY are both empty).
Polvarine is a desktop program with a window and a tray icon; it has no command-line mode.
It is built and installed; start it in one of these ways:
  - on the machine's own desktop: open "Polvarine" from the application menu, or run
      $PWD/build/app/polvarine
  - over SSH from a desktop: connect with X forwarding (ssh -X $(hostname)) and run the command above
  - without any screen, e.g. to try it out: xvfb-run -a $PWD/build/app/polvarine
    (nothing is shown; it measures and records into its database until you stop it with Ctrl+C)
MSG
  exit 2
fi
exec ./build/app/polvarine "$@"
