#!/bin/sh
# Makes the full-size fixture disc once for both trees; the lock keeps two
# trees' test runs from making it at the same time.
#   make_disc.sh <mkdisc> <fixture dir>
set -eu
mkdir -p "$(dirname "$2")"
exec flock "$2.lock" sh "$(dirname "$0")/../../tools/disc/make_boss_rally_disc.sh" "$1" "$2"
