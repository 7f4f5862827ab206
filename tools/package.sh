#!/usr/bin/env bash
# Builds the Debian binary packages nasfinder (the window), nasfinder-scan
# (the scan command alone, no Qt) and nasfinder-common (the firewall files both
# depend on) the Debian way, with dpkg-buildpackage in a
# temporary copy of the tree, and moves the results into dist/.
#
#   tools/package.sh            build, then list what dist/ holds
#
# Installs the build dependencies that are missing (tools/deps.sh). The package
# build configures neither tests nor benchmarks; install the result with
# `sudo apt install ./dist/nasfinder-common_*.deb ./dist/nasfinder_*.deb`.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

. tools/deps.sh
# shellcheck disable=SC2086
nasfinder_install_packages $NASFINDER_BUILD_PACKAGES $NASFINDER_PACKAGE_PACKAGES >&2

# The packages only, without their debug-symbol companions.
export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }noautodbgsym"
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
work=$(mktemp -d "${TMPDIR:-/tmp}/nasfinder-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
src="$work/nasfinder-$version"
mkdir -p "$src"

# The tracked files as they are in the work tree (local edits included, build
# trees and other untracked files left out); a tree without git is copied whole.
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$ROOT" ls-files -z --cached | while IFS= read -r -d '' f; do
    [ -e "$f" ] && printf '%s\0' "$f"
  done | tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$src"
fi

echo "=== dpkg-buildpackage -b -us -uc (nasfinder $version)" >&2
(cd "$src" && dpkg-buildpackage -b -us -uc) >"$work/build.log" 2>&1 || {
  tail -60 "$work/build.log" >&2
  echo "package: dpkg-buildpackage failed" >&2
  exit 1
}
# Debian's build flags with -Werror on our code: any warning fails the build
# above; a warning from the tools themselves is shown here.
grep -E '(^|: )(warning|dpkg-shlibdeps: warning)' "$work/build.log" >&2 || true

mkdir -p dist
rm -f dist/nasfinder_"$version"_*.deb dist/nasfinder-scan_"$version"_*.deb dist/nasfinder-common_"$version"_*.deb
mv "$work"/*.deb dist/
mv "$work"/*.buildinfo "$work"/*.changes dist/ 2>/dev/null || true
cp "$work/build.log" dist/build.log
ls -l dist/*.deb
