#!/usr/bin/env bash
# Builds the Debian package twice from scratch as `make package` does (release
# build, prefix /usr, cpack under umask 022): in two temporary build folders,
# the builds under different umasks, with one SOURCE_DATE_EPOCH (default: the
# last commit's time). Then checks that the two packages are the same bytes
# and that lintian finds no error and no warning in them. Two full builds take
# a few minutes, so CI runs this on its own rather than through ctest.
#
# usage: check_package.sh [<source-dir>]   (default: this checkout)
set -euo pipefail

source_dir=$(cd "${1:-$(dirname "$0")/../..}" && pwd)
for tool in cmake ninja cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not installed (scripts/install-deps)"; exit 1; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build <n> <umask>: leaves the package as $work/<n>.deb
build() {
  local dir=$work/build$1
  echo "--- build $1 (umask $2) in $dir"
  if ! (umask "$2" &&
        cmake -S "$source_dir" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DPULSARO_BUILD_TESTS=OFF -DPULSARO_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr &&
        cmake --build "$dir" &&
        cd "$dir" && umask 0022 && cpack -G DEB) >"$work/build$1.log" 2>&1; then
    tail -n 40 "$work/build$1.log"
    echo "FAIL: build $1"
    exit 1
  fi
  mv "$dir"/pulsaro_*.deb "$work/$1.deb"
}
build 1 0022
build 2 0002
sha256sum "$work/1.deb" "$work/2.deb" | sed "s|$work/||"

failures=0
if cmp -s "$work/1.deb" "$work/2.deb"; then
  echo "ok:   the two packages are the same bytes"
else
  echo "FAIL: the two packages differ"
  failures=$((failures + 1))
  for n in 1 2; do
    mkdir "$work/x$n" && dpkg-deb -R "$work/$n.deb" "$work/x$n"
    dpkg-deb --contents "$work/$n.deb" >"$work/contents$n"
  done
  diff "$work/contents1" "$work/contents2" || true
  diff -r "$work/x1" "$work/x2" || true
fi

# Every tag lintian finds is shown; errors and warnings fail the check.
if lintian --display-level '>=pedantic' --fail-on error,warning "$work/1.deb"; then
  echo "ok:   lintian: no error, no warning"
else
  echo "FAIL: lintian"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || exit 1
echo "package checks passed"
