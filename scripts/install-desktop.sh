#!/usr/bin/env bash
# Installs Polvarine's desktop entry and icon for the current user, so that the program appears in
# the desktop's application menu and its windows and tray get their icon.
#
#   scripts/install-desktop.sh [executable]     (default: build/app/polvarine of this checkout)
#
# Files: $XDG_DATA_HOME/applications/hu.polvarine.Polvarine.desktop (named after the AppStream id) and
#        $XDG_DATA_HOME/icons/hicolor/scalable/apps/polvarine.svg (XDG_DATA_HOME defaults to ~/.local/share).
# Idempotent: running it again replaces both files.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe="${1:-$root/build/app/polvarine}"
case "$exe" in /*) ;; *) exe="$PWD/$exe" ;; esac

data="${XDG_DATA_HOME:-$HOME/.local/share}"
apps="$data/applications"
icons="$data/icons/hicolor/scalable/apps"
mkdir -p "$apps" "$icons"

# An Exec argument with reserved characters goes in double quotes, with ", `, $ and \ escaped; a
# percent sign is doubled in any case (desktop entry specification, "The Exec key").
quote_exec() {
    local arg=${1//%/%%}
    if [[ $arg =~ [[:space:]\"\'\\\>\<\~\|\&\;\$\*\?\#\(\)\`] ]]; then
        arg=${arg//\\/\\\\}
        arg=${arg//\"/\\\"}
        arg=${arg//\`/\\\`}
        arg=${arg//\$/\\\$}
        arg="\"$arg\""
    fi
    # The desktop entry format itself escapes a backslash once more.
    printf '%s' "${arg//\\/\\\\}"
}

exec_line=$(quote_exec "$exe")
entry="$apps/hu.polvarine.Polvarine.desktop"
tmp="$apps/.hu.polvarine.Polvarine.desktop.$$"
# Replace the placeholder literally (the path may hold characters sed would treat specially).
while IFS= read -r line || [[ -n $line ]]; do
    printf '%s\n' "${line//@EXEC@/$exec_line}"
done <"$root/packaging/hu.polvarine.Polvarine.desktop.in" >"$tmp"
mv -f "$tmp" "$entry"
# The name earlier versions of this script used: the menu would list the program twice.
rm -f "$apps/polvarine.desktop"
install -m 0644 "$root/packaging/polvarine.svg" "$icons/polvarine.svg"

if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$entry"
fi
command -v update-desktop-database >/dev/null 2>&1 && update-desktop-database -q "$apps" || true
command -v gtk-update-icon-cache >/dev/null 2>&1 && gtk-update-icon-cache -q -t "$data/icons/hicolor" 2>/dev/null || true
echo "install-desktop: $entry (Exec=$exec_line)"
