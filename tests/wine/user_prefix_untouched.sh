#!/bin/sh
# A WINEPREFIX the user set is never the prefix wine-run writes to. With one
# pointing to a scratch "user" prefix, a registry write through wine-run (as
# the DPI and font steps make) lands in the build tree's prefix, whether that
# prefix is named by KELVORN_WINEPREFIX or found from the working directory;
# the scratch prefix's files stay byte for byte, and nothing is added to it.
# The scratch prefix holds only registry files that Wine never sees, so no
# second prefix is booted.
#
#   user_prefix_untouched.sh WINE_RUN BUILD_DIR WORK
set -eu
WINE_RUN=$1
BUILD=$2
WORK=$3
TREE_PREFIX=$BUILD/wineprefix
USER_PREFIX=$WORK/user-prefix
KEY='HKCU\Software\Kelvorn\UserPrefixProbe'

fail() { echo "FAIL: $*" >&2; exit 1; }
state() { (cd "$USER_PREFIX" && ls -A && md5sum system.reg user.reg userdef.reg); }

rm -rf "$WORK"
mkdir -p "$USER_PREFIX"
for f in system.reg user.reg userdef.reg; do
    printf 'WINE REGISTRY Version 2\n;; the user'"'"'s own %s\n\n[Control Panel\\\\Desktop]\n"LogPixels"=dword:00000060\n' \
        "$f" > "$USER_PREFIX/$f"
done
before=$(state)

for how in named found; do
    value="$how-$$"
    if [ $how = named ]; then
        WINEPREFIX=$USER_PREFIX KELVORN_WINEPREFIX=$TREE_PREFIX \
            "$WINE_RUN" reg add "$KEY" /v probe /d "$value" /f >/dev/null ||
            fail "$how: reg add failed"
    else
        (cd "$BUILD" && env -u KELVORN_WINEPREFIX WINEPREFIX="$USER_PREFIX" \
            "$WINE_RUN" reg add "$KEY" /v probe /d "$value" /f >/dev/null) ||
            fail "$how: reg add failed"
    fi
    [ "$(state)" = "$before" ] || fail "$how: the user's prefix changed:
$(state)"
    KELVORN_WINEPREFIX=$TREE_PREFIX "$WINE_RUN" reg query "$KEY" /v probe | grep -q "$value" ||
        fail "$how: the write did not reach the tree's prefix $TREE_PREFIX"
    echo "$how: the write went to $TREE_PREFIX; the user's prefix is untouched"
done
KELVORN_WINEPREFIX=$TREE_PREFIX "$WINE_RUN" reg delete "$KEY" /f >/dev/null 2>&1 || true
rm -rf "$WORK"
