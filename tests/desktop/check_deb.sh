#!/usr/bin/env bash
# Builds the Debian package from the build folder and reads it back: its name, files
# under /usr only, and dependencies computed from the binaries. Usage: check_deb.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/plmlooker_*_amd64.deb)
[ -f "${debs[0]}" ] || { ls "$work"; fail "no plmlooker_<version>_amd64.deb"; }
deb=${debs[0]}

dpkg-deb -c "$deb" | awk '{print $6}' > "$work/files"
grep -vE '^\./(usr/.*)?$' "$work/files" && fail "files outside /usr"
for f in usr/bin/plmlooker usr/bin/plmtool usr/lib/plmlooker/libplmcab.so \
         usr/share/applications/plmlooker.desktop usr/share/mime/packages/plmlooker.xml \
         usr/share/thumbnailers/plmlooker.thumbnailer usr/share/man/man1/plmtool.1; do
  grep -qx "./$f" "$work/files" || fail "package lacks /$f"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
grep -q 'libqt6webengine' <<< "$depends" || fail "no Qt 6 WebEngine dependency"
grep -q 'libmspack' <<< "$depends" || fail "no libmspack dependency"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
echo "package checked"
