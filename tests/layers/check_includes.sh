#!/bin/sh
# Fails when a source file of the program includes a header of a higher
# layer, of another format, of the other front end, or of the tests and
# tools. The layers, lowest first:
#   base < formats < builder < session < ui, cli
# A format (formats/<name>/) may use the base and its own folder only.
#
#   check_includes.sh SOURCE_DIR
# Prints one line per crossing include ("file:line: includes header (why)")
# and exits 1 when there is any.
set -eu
cd "$1"

rank() {
    case $1 in
        base/*) echo 0 ;;
        formats/*) echo 1 ;;
        builder/*) echo 2 ;;
        session/*) echo 3 ;;
        ui/* | cli/*) echo 4 ;;
        *) echo 9 ;;
    esac
}

folders=""
for folder in base formats builder session ui cli; do
    [ -d "$folder" ] && folders="$folders $folder"
done
status=0
for file in $(find $folders -name '*.h' -o -name '*.cpp' -o -name '*.c' | sort); do
    own=$(rank "$file")
    grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1 \2/' > "${TMPDIR:-/tmp}/kelvorn-includes.$$" || true
    while read -r line header; do
        case $header in
            */*) ;;
            *) continue ;;  # the folder's own or a generated header (kelvorn_version.h)
        esac
        why=""
        theirs=$(rank "$header")
        if [ "$theirs" = 9 ]; then
            why="not a header of the program"
        elif [ "$theirs" -gt "$own" ]; then
            why="a higher layer"
        elif [ "$own" = 1 ] && [ "$theirs" = 1 ] &&
             [ "$(echo "$file" | cut -d/ -f2)" != "$(echo "$header" | cut -d/ -f2)" ]; then
            why="another format"
        elif [ "$own" = 4 ] && [ "$theirs" = 4 ] &&
             [ "$(echo "$file" | cut -d/ -f1)" != "$(echo "$header" | cut -d/ -f1)" ]; then
            why="the other front end"
        fi
        if [ -n "$why" ]; then
            echo "$file:$line: includes $header ($why)"
            status=1
        fi
    done < "${TMPDIR:-/tmp}/kelvorn-includes.$$"
done
rm -f "${TMPDIR:-/tmp}/kelvorn-includes.$$"
[ $status = 0 ] && echo "layers: no include crosses a layer upward"
exit $status
