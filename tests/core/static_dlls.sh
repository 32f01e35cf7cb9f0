#!/bin/sh
# Every Windows program the build makes must import only DLLs that come
# with Windows: the MinGW runtime (libstdc++, libgcc, libwinpthread) is
# linked in statically, so kelvorn.exe runs on its own.
# Usage: static_dlls.sh OBJDUMP PROGRAM...
# The build names the programs (the shipped ones, their test builds, the
# game stand-ins and the test programs); whatever else lies in the tree,
# such as the games that tests build and remove while this runs, is not
# looked at.
objdump=$1
shift
[ $# -gt 0 ] || { echo "FAIL no programs given"; exit 1; }

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
for exe in "$@"; do
    if [ ! -f "$exe" ]; then
        echo "FAIL $exe: not built"
        bad=1
        continue
    fi
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
done
echo "$checked executables checked"
exit $bad
