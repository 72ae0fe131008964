#!/usr/bin/env bash
# Installs the build into a temporary prefix, as a package would, and runs the
# installed programs from there: the version, a store made and listed by the
# installed gmclient, and an import whose API library is the installed one.
set -euo pipefail
build=$1
source=$2
version=$3

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }

for program in ruvelo ruvelo-import gmclient; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
done
[ -z "$(find "$prefix/bin" -name 'libgm7s32*')" ] || fail "the API library lies in bin/"
library=$(find "$prefix" -name 'libgm7s32.so*' | head -n 1)
case "$library" in
  */ruvelo/libgm7s32.so*) ;;
  *) fail "the API library is not in Ruvelo's private folder: ${library:-missing}" ;;
esac

out=$("$prefix/bin/ruvelo-import" --version)
[ "$out" = "ruvelo-import $version" ] || fail "--version printed: $out"
out=$("$prefix/bin/gmclient" --version)
[ "$out" = "gmclient $version" ] || fail "gmclient --version printed: $out"

store="$prefix/store"
printf 'secret\n' | "$prefix/bin/gmclient" init "$store" --user ANN >/dev/null
[ -z "$("$prefix/bin/gmclient" contacts "$store")" ] || fail "a new store lists contacts"

# An import through the installed binding: it must find the installed library.
workbook="$source/tests/data/types.xls"
RUVELO_PASSWORD=secret "$prefix/bin/ruvelo-import" --workbook "$workbook" --no-match \
  --sysdir "$store" --golddir GoldMine: --commondir Common: --user ANN </dev/null >/dev/null ||
  fail "the installed ruvelo-import could not import"
[ -n "$("$prefix/bin/gmclient" contacts "$store")" ] || fail "the import wrote no contact"

for page in ruvelo-import.1 gmclient.1; do
  [ -n "$(find "$prefix" -path "*/man1/$page")" ] || fail "man page $page is not installed"
done
desktop-file-validate "$prefix/share/applications/org.ruvelo.Ruvelo.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.ruvelo.Ruvelo.metainfo.xml" >/dev/null
[ -f "$prefix/share/icons/hicolor/scalable/apps/org.ruvelo.Ruvelo.svg" ] || fail "no icon"
echo "installed and ran from $prefix"
