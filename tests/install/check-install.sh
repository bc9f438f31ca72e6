#!/usr/bin/env bash
# Installs the build into a staging folder as a package would and checks that everything lands
# where Linux desktops look for it, and that the desktop entry, the AppStream data and the manual
# pages are well formed.
# Usage: check-install.sh <build folder>
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix /usr > /dev/null

status=0
expect() {
  if [ -e "$stage/$1" ]; then echo "ok $1"; else echo "MISSING $1"; status=1; fi
}
for program in korvex-calibrator korvex-results psu-sim; do
  expect usr/bin/$program
  [ -x "$stage/usr/bin/$program" ] || { echo "NOT EXECUTABLE usr/bin/$program"; status=1; }
  expect usr/share/man/man1/$program.1
done
# The modules loaded when the operator first prints and when a hand-held meter is first read.
expect "usr/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")/korvex-calibrator/libkorvex-printing.so"
expect "usr/$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")/korvex-calibrator/libkorvex-sigrok.so"
expect usr/share/applications/korvex-calibrator.desktop
expect usr/share/metainfo/org.korvex.calibrator.metainfo.xml
expect usr/share/icons/hicolor/scalable/apps/korvex-calibrator.svg
for px in 48 128; do
  expect usr/share/icons/hicolor/${px}x$px/apps/korvex-calibrator.png
  size=$(file -b "$stage/usr/share/icons/hicolor/${px}x$px/apps/korvex-calibrator.png" | grep -o "$px x $px" || true)
  [ -n "$size" ] || { echo "WRONG SIZE ${px}x$px icon"; status=1; }
done

desktop-file-validate "$stage/usr/share/applications/korvex-calibrator.desktop" || status=1
appstreamcli validate --no-net "$stage/usr/share/metainfo/org.korvex.calibrator.metainfo.xml" || status=1
# What man says about a page's markup is what lintian reports of the package too.
for program in korvex-calibrator korvex-results psu-sim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$stage/usr/share/man/man1/$program.1" 2>&1 > /dev/null || true)
  [ -z "$warnings" ] || { echo "MAN PAGE $program.1: $warnings"; status=1; }
  # What --help cannot hold: the files a program uses, its exit status and the other pages.
  text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$stage/usr/share/man/man1/$program.1" 2> /dev/null | col -b)
  for section in FILES 'EXIT STATUS' 'SEE ALSO'; do
    grep -q "^$section\$" <<< "$text" || { echo "MAN PAGE $program.1 has no $section"; status=1; }
  done
done
# The exit status the page gives for a wrong option is the one the program returns.
for program in korvex-calibrator korvex-results psu-sim; do
  code=0
  QT_QPA_PLATFORM=offscreen timeout 20 "$build/$(cd "$build" && find . -name "$program" -type f -executable | head -n 1)" --no-such-option \
    > /dev/null 2>&1 || code=$?
  [ "$code" = 2 ] || { echo "$program --no-such-option: exit $code, not 2"; status=1; }
done
# The menu entry starts the installed program and names the installed icon.
grep -q '^Exec=korvex-calibrator$' "$stage/usr/share/applications/korvex-calibrator.desktop" || status=1
grep -q '^Icon=korvex-calibrator$' "$stage/usr/share/applications/korvex-calibrator.desktop" || status=1
exit $status
