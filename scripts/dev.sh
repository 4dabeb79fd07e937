#!/bin/sh
# The two commands of a fresh machine, before make or cmake are installed:
#   sh scripts/dev.sh run    installs what is missing, builds zu and starts it
#   sh scripts/dev.sh test   installs what the tests need too, builds and runs every test
#                            (the ALSA label in a qemu guest included)
set -e
cd "$(dirname "$0")/.."
case "${1:-}" in
run) scripts/install-deps.sh build ;;
test) scripts/install-deps.sh test ;;
*) echo "usage: sh scripts/dev.sh run|test" >&2; exit 2 ;;
esac
exec make "$1"
