#!/bin/sh
# Makes the ICO fixtures of the icon tests with ImageMagick:
#   one.ico  one 48x48 32-bit bitmap image
#   six.ico  six images, the 256x256 one PNG-encoded, third among bitmaps
# The malformed variants are patched from these by the tests themselves.
set -e
out=$1
mkdir -p "$out"
# The ICO: prefix names the format; files are renamed only when complete.
convert -size 48x48 xc:'#33aa77' -type TrueColorAlpha "ICO:$out/one.ico.tmp"
convert -size 256x256 gradient:red-blue -define icon:auto-resize=64,48,256,32,24,16 "ICO:$out/six.ico.tmp"
mv "$out/one.ico.tmp" "$out/one.ico"
mv "$out/six.ico.tmp" "$out/six.ico"
test -s "$out/one.ico" && test -s "$out/six.ico"
