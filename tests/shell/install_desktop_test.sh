#!/usr/bin/env bash
# scripts/install-desktop.sh into a throw-away data folder: the entry names the given executable
# (quoted as the desktop entry format wants when the path has spaces or a percent sign), the icon
# is where icon themes look, the entry passes this distribution's validator (desktop-file-utils,
# installed by scripts/setup.sh), and a second run replaces rather than duplicates.
set -u
root="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME="$tmp/data"
fail() { echo "FAIL: $*"; exit 1; }
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (scripts/setup.sh installs desktop-file-utils)"
validate() { desktop-file-validate "$1" || { cat "$1"; fail "the validator rejects the entry"; }; }

# An entry under the name earlier versions used is replaced, not kept beside the new one.
mkdir -p "$XDG_DATA_HOME/applications" && touch "$XDG_DATA_HOME/applications/polvarine.desktop"
bash "$root/scripts/install-desktop.sh" "/opt/Poly apps/100% polvarine" >/dev/null || fail "the script failed"
entry="$XDG_DATA_HOME/applications/hu.polvarine.Polvarine.desktop"
[ -f "$entry" ] || fail "no desktop entry"
[ -f "$XDG_DATA_HOME/icons/hicolor/scalable/apps/polvarine.svg" ] || fail "no icon"
grep -qx 'Exec="/opt/Poly apps/100%% polvarine"' "$entry" || { cat "$entry"; fail "wrong Exec line"; }
grep -qx 'Icon=polvarine' "$entry" || fail "wrong Icon line"
grep -qx 'Type=Application' "$entry" || fail "no Type"
head -n1 "$entry" | grep -qx '\[Desktop Entry\]' || fail "no group header"
grep -q '@' "$entry" && fail "a placeholder is left"
validate "$entry"

bash "$root/scripts/install-desktop.sh" /usr/bin/polvarine >/dev/null || fail "the second run failed"
grep -qx 'Exec=/usr/bin/polvarine' "$entry" || fail "the second run did not replace the entry"
validate "$entry"
# Besides the entry only the desktop database's own cache may be there.
leftover=$(ls -A "$XDG_DATA_HOME/applications" | grep -vx -e hu.polvarine.Polvarine.desktop -e mimeinfo.cache)
[ -z "$leftover" ] || fail "leftover files: $leftover"
echo "install-desktop: ok"
