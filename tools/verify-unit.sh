#!/bin/sh
# Checks a systemd unit as systemd reads it (systemd-analyze verify: its
# directives, the user and folders it names, the commands it runs), with its
# ExecStart= program taken from where it was built or staged rather than
# where it will be installed. Used by the package build (debian/rules) and the
# test suite.
#
#   tools/verify-unit.sh UNIT PROGRAM
set -eu
unit=$1
[ -x "$2" ] || { echo "verify-unit: $2 is not an executable" >&2; exit 1; }
# systemd takes only absolute paths.
program=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
dir=$(mktemp -d "${TMPDIR:-/tmp}/verify-unit.XXXXXX")
trap 'rm -rf "$dir"' EXIT
copy="$dir/$(basename "$unit")"
# The first word of ExecStart= is the program; its arguments stay.
sed "s|^ExecStart=[^ ]*|ExecStart=$program|" "$unit" > "$copy"
grep -q "^ExecStart=$program" "$copy" || { echo "verify-unit: $unit has no ExecStart=" >&2; exit 1; }
# Its manual page is checked where it is installed, not here. What verify
# only warns of (a key it does not know is ignored) fails the check too.
said=$(systemd-analyze verify --man=no "$copy" 2>&1) || { echo "$said" >&2; exit 1; }
if [ -n "$said" ]; then
  echo "$said" >&2
  exit 1
fi
