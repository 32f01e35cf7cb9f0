#!/bin/sh
# Every Windows program of the build tree must import only DLLs that come
# with Windows: the MinGW runtime (libstdc++, libgcc, libwinpthread) is
# linked in statically, so kelvorn.exe runs on its own.
# Usage: static_dlls.sh <build tree> [objdump]
tree=$1
objdump=${2:-x86_64-w64-mingw32-objdump}
[ -d "$tree" ] || { echo "no build tree at $tree"; exit 1; }

system_dll() {
    case $(printf '%s' "$1" | tr 'A-Z' 'a-z') in
        kernel32.dll|user32.dll|gdi32.dll|gdiplus.dll|comctl32.dll|comdlg32.dll|\
        ole32.dll|oleaut32.dll|shell32.dll|shlwapi.dll|shcore.dll|advapi32.dll|\
        msvcrt.dll|ucrtbase.dll|api-ms-win-*.dll|uxtheme.dll|dwmapi.dll|version.dll|\
        ws2_32.dll|bcrypt.dll|ntdll.dll|imm32.dll|winmm.dll|crypt32.dll|rpcrt4.dll|\
        secur32.dll|setupapi.dll|userenv.dll|kernelbase.dll|win32u.dll) return 0 ;;
    esac
    return 1
}

checked=0
bad=0
# The Wine prefix and generated fixtures hold executables that are not ours.
list=$(mktemp)
trap 'rm -f "$list"' EXIT
find "$tree" \( -name 'wineprefix*' -o -name drive_c -o -name fixtures \) -prune -o -type f -iname '*.exe' -print >"$list"
while IFS= read -r exe; do
    dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    if [ -z "$dlls" ]; then
        echo "FAIL $exe: objdump lists no imports"
        bad=1
        continue
    fi
    for dll in $dlls; do
        if ! system_dll "$dll"; then
            echo "FAIL $exe imports $dll"
            bad=1
        fi
    done
    checked=$((checked + 1))
done <"$list"
if [ $checked -eq 0 ]; then
    echo "FAIL no .exe found under $tree"
    exit 1
fi
echo "$checked executables checked"
exit $bad
