#!/usr/bin/env bash
# Installs a built tree into a temporary root (DESTDIR) and checks what lands
# there: the program, the desktop entry, the icon, the AppStream metainfo, the
# compressed man page, the copyright file and the compressed changelog. The
# desktop entry, the metainfo and the man page go through desktop-file-validate,
# appstreamcli and groff (or man) when those are installed; a missing tool is
# reported as skipped.
#
# Then the Debian package: cpack builds it from the same tree into a temporary
# folder (a few seconds, the program is not rebuilt), and its contents, its
# Depends line and lintian's verdict (no error, no warning) are checked.
# PULSARO_TEST_PACKAGE=0 leaves that part out; it is skipped too when cpack's
# DEB tools (dpkg-deb, dpkg-shlibdeps, file) are missing. That two builds give
# the same package is checked by check_package.sh.
#
# usage: run_install_test.sh <build-dir> <source-dir>
# pass() never fails, so `test && pass || fail` is an if-then-else here.
# shellcheck disable=SC2015,SC2001
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <build-dir> <source-dir>" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$2" && pwd) || exit 2

app_id=com.orviksoftware.Pulsaro
prefix=/usr
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
skip() { echo "SKIP: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root

# --- install -----------------------------------------------------------------
if DESTDIR=$root cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1; then
  pass "cmake --install into a temporary root"
else
  cat "$work/install.log"
  fail "cmake --install"
  exit 1
fi

usr=$root$prefix
bin=$usr/bin/pulsaro
desktop=$usr/share/applications/$app_id.desktop
icon=$usr/share/icons/hicolor/scalable/apps/$app_id.svg
metainfo=$usr/share/metainfo/$app_id.metainfo.xml
manpage_gz=$usr/share/man/man1/pulsaro.1.gz
copyright=$usr/share/doc/pulsaro/copyright
changelog_gz=$usr/share/doc/pulsaro/changelog.gz

[ -x "$bin" ] && pass "program: bin/pulsaro" || fail "no executable bin/pulsaro"
for f in "$desktop" "$icon" "$metainfo" "$manpage_gz" "$copyright" "$changelog_gz"; do
  [ -s "$f" ] && pass "${f#"$usr"/}" || fail "missing or empty: ${f#"$usr"/}"
done
cmp -s "$icon" "$source_dir/resources/pulsaro.svg" && pass "icon is resources/pulsaro.svg" ||
  fail "installed icon differs from resources/pulsaro.svg"
[ ! -e "$usr/share/doc/pulsaro/LICENSE" ] && pass "no LICENSE beside the copyright file" ||
  fail "doc/pulsaro/LICENSE installed; the copyright file names the license"
grep -qx "License: GPL-3.0-or-later" "$copyright" && pass "copyright: GPL-3.0-or-later" ||
  fail "copyright does not name GPL-3.0-or-later"
# gzip -n: no name and no time stamp in the header, so the bytes do not change.
for f in "$manpage_gz" "$changelog_gz"; do
  [ "$(od -An -tx1 -j3 -N5 "$f" | tr -d ' ')" = 0000000000 ] &&
    pass "${f#"$usr"/}: gzip header without name and time" ||
    fail "${f#"$usr"/}: gzip header holds a name or a time stamp"
done
manpage=$work/pulsaro.1
gzip -dc "$manpage_gz" >"$manpage" 2>/dev/null && cmp -s "$manpage" "$source_dir/packaging/pulsaro.1" &&
  pass "man page is packaging/pulsaro.1" || fail "installed man page differs from packaging/pulsaro.1"
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
[ "$(gzip -dc "$changelog_gz" | sed -n '1s/^pulsaro (\([^)]*\)).*/\1/p')" = "$project_version" ] &&
  pass "changelog: latest entry is $project_version" ||
  fail "changelog: latest entry is not $project_version (packaging/changelog)"

# --- desktop entry -------------------------------------------------------------
if [ -s "$desktop" ]; then
  grep -qx "Icon=$app_id" "$desktop" && pass "desktop entry: Icon=$app_id" ||
    fail "desktop entry: Icon is not $app_id"
  grep -qx "Exec=pulsaro" "$desktop" && pass "desktop entry: Exec=pulsaro" ||
    fail "desktop entry: Exec is not pulsaro"
  if have desktop-file-validate; then
    if out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]; then
      pass "desktop-file-validate: no remarks"
    else
      echo "$out"
      fail "desktop-file-validate"
    fi
  else
    skip "desktop-file-validate not installed (Debian: desktop-file-utils)"
  fi
fi

# --- AppStream metainfo ------------------------------------------------------
if [ -s "$metainfo" ]; then
  grep -q "<id>$app_id</id>" "$metainfo" && pass "metainfo: id $app_id" ||
    fail "metainfo: id is not $app_id"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" &&
    pass "metainfo: launches $app_id.desktop" || fail "metainfo: launchable is not $app_id.desktop"
  if have appstreamcli; then
    if out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1); then
      pass "appstreamcli validate --no-net"
      echo "$out" | sed 's/^/      /'
    else
      echo "$out"
      fail "appstreamcli validate --no-net"
    fi
  else
    skip "appstreamcli not installed (Debian: appstream)"
  fi
fi

# --- man page ----------------------------------------------------------------
if [ -s "$manpage" ]; then
  if have groff; then
    if out=$(LC_ALL=C.UTF-8 groff -t -man -Tutf8 -ww -z "$manpage" 2>&1) && [ -z "$out" ]; then
      pass "groff -t -man -Tutf8 -ww: no warnings"
    else
      echo "$out"
      fail "groff renders the man page with warnings"
    fi
  elif have man; then
    if out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manpage" 2>&1 >/dev/null) &&
       [ -z "$out" ]; then
      pass "man --warnings -l: no warnings"
    else
      echo "$out"
      fail "man renders the man page with warnings"
    fi
  else
    skip "neither groff nor man installed (Debian: groff-base, man-db)"
  fi
fi

# --- Debian package ------------------------------------------------------------
package_check() {
  local tool
  for tool in cpack dpkg-deb dpkg-shlibdeps file; do
    if ! have "$tool"; then
      skip "Debian package: $tool not installed (Debian: dpkg-dev, file)"
      return
    fi
  done
  if [ ! -f "$build_dir/CPackConfig.cmake" ]; then
    skip "Debian package: no CPackConfig.cmake in $build_dir"
    return
  fi
  local version arch deb
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
  arch=$(dpkg --print-architecture)
  if ! (cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/pkg") \
      >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack -G DEB"
    return
  fi
  deb=$work/pkg/pulsaro_${version}_${arch}.deb
  if [ ! -f "$deb" ]; then
    ls "$work/pkg"
    fail "cpack left no pulsaro_${version}_${arch}.deb"
    return
  fi
  pass "cpack: $(basename "$deb")"

  local contents
  contents=$(dpkg-deb --contents "$deb")
  local path
  for path in ./usr/bin/pulsaro \
      "./usr/share/applications/$app_id.desktop" \
      "./usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
      "./usr/share/metainfo/$app_id.metainfo.xml" \
      ./usr/share/man/man1/pulsaro.1.gz \
      ./usr/share/doc/pulsaro/copyright \
      ./usr/share/doc/pulsaro/changelog.gz; do
    echo "$contents" | grep -q " $path\$" && pass "package holds $path" ||
      fail "package lacks $path"
  done

  [ "$(dpkg-deb --field "$deb" Package)" = pulsaro ] && pass "Package: pulsaro" ||
    fail "Package is not pulsaro"
  [ "$(dpkg-deb --field "$deb" Version)" = "$version" ] && pass "Version: $version" ||
    fail "Version is not $version"
  local depends
  depends=$(dpkg-deb --field "$deb" Depends)
  echo "      Depends: $depends"
  local dep
  for dep in libqt6widgets6 libqt6gui6 libqt6core6 libqt6network6 libqt6svg6 libportaudio2; do
    echo "$depends" | grep -Eq "(^|, )$dep( |,|$)" && pass "Depends lists $dep" ||
      fail "Depends lacks $dep"
  done
  dpkg-deb --field "$deb" Recommends | grep -qw fonts-wine && pass "Recommends: fonts-wine" ||
    fail "Recommends lacks fonts-wine"

  if have lintian; then
    if out=$(lintian --display-level '>=pedantic' --fail-on error,warning "$deb" 2>&1); then
      pass "lintian: no error, no warning"
    else
      fail "lintian"
    fi
    echo "$out" | grep -v -e '^$' -e 'running with root privileges' | sed 's/^/      /'
  else
    skip "lintian not installed (Debian: lintian)"
  fi
}

if [ "${PULSARO_TEST_PACKAGE:-1}" = 0 ]; then
  skip "Debian package (PULSARO_TEST_PACKAGE=0)"
else
  package_check
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all install checks passed"
