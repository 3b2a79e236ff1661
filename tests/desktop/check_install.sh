#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop reads there: the
# menu entry, the file type (a template named x.PLM is recognised), the thumbnailer run as
# a file manager runs it, the manual pages. Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || { cat "$work/install.log"; fail "install"; }

# Nothing outside the prefix: every installed path is below it.
if grep -E '^-- (Installing|Up-to-date): ' "$work/install.log" | grep -v -- "$prefix/" ; then
  fail "files installed outside the prefix"
fi
for f in bin/plmlooker bin/plmtool lib/plmlooker/libplmcab.so lib/plmlooker/plmtool-gui lib/plmlooker/plmtool-browser \
         share/applications/plmlooker.desktop share/mime/packages/plmlooker.xml \
         share/icons/hicolor/scalable/apps/plmlooker.svg share/icons/hicolor/48x48/apps/plmlooker.png \
         share/thumbnailers/plmlooker.thumbnailer share/man/man1/plmlooker.1 share/man/man1/plmtool.1; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done

desktop-file-validate "$prefix/share/applications/plmlooker.desktop" || fail "desktop entry"
grep -qx 'Exec=plmlooker %f' "$prefix/share/applications/plmlooker.desktop" || fail "Exec line"
xmllint --noout "$prefix/share/mime/packages/plmlooker.xml" || fail "file type is not well-formed"

# The 48 x 48 icon really is 48 x 48 (PNG header: width and height at bytes 16 to 23).
[ "$(od -An -tx1 -j16 -N8 "$prefix/share/icons/hicolor/48x48/apps/plmlooker.png" | tr -d ' \n')" = 0000003000000030 ] \
  || fail "48 x 48 icon size"

# The installed tool finds its cabinet library in the private folder (nothing beside it).
sample=$work/x.PLM
printf 'hello' > "$work/a.txt"
"$prefix/bin/plmtool" create "$sample" "$work/a.txt" > /dev/null || fail "installed plmtool create"
"$prefix/bin/plmtool" list "$sample" | grep -q 'a.txt' || fail "installed plmtool list"

# The file type, as a desktop sees it through the shared MIME database of the prefix.
update-mime-database "$prefix/share/mime" 2> /dev/null
type=$(XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_DATA_HOME="$prefix/share" XDG_CURRENT_DESKTOP=GNOME \
       xdg-mime query filetype "$sample")
[ "$type" = application/x-plumora-template ] || fail "x.PLM is '$type'"
cp "$sample" "$work/other.cab"
type=$(XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_DATA_HOME="$prefix/share" XDG_CURRENT_DESKTOP=GNOME \
       xdg-mime query filetype "$work/other.cab")
[ "$type" = application/vnd.ms-cab-compressed ] || fail "other.cab is '$type'"

# The thumbnailer's command run as a file manager runs it: a PNG of the size asked for
# on its longer side. A template without a page writes nothing.
cat > "$work/Flavor.htm" <<'PAGE'
<HTML><BODY style="margin:0"><TABLE width=600 height=400 bgcolor=#3060c0><TR>
<TD id=PLUMORATEXTREGION style="FONT-FAMILY: Arial">x</TD></TR></TABLE></BODY></HTML>
PAGE
printf '[General]\r\nCollection=c\r\n' > "$work/content.ini"
page=$work/page.plm
"$prefix/bin/plmtool" create "$page" "$work/Flavor.htm" "$work/content.ini" > /dev/null || fail "template"
exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/thumbnailers/plmlooker.thumbnailer")
cmd=${exec_line//%s/128}
cmd=${cmd//%i/$page}
cmd=${cmd//%o/$work/thumb.png}
(cd "$work" && PATH="$prefix/bin:$PATH" QT_QPA_PLATFORM=offscreen eval "$cmd") || fail "thumbnailer: $cmd"
[ "$(file -b "$work/thumb.png" | cut -d, -f1)" = "PNG image data" ] || fail "thumbnail is not a PNG"
dims=$(file -b "$work/thumb.png" | cut -d, -f2 | tr -d ' ')
w=${dims%x*}; h=${dims#*x}
{ [ "$w" = 128 ] || [ "$h" = 128 ]; } && [ "$w" -le 128 ] && [ "$h" -le 128 ] || fail "thumbnail is $dims"
if PATH="$prefix/bin:$PATH" QT_QPA_PLATFORM=offscreen plmtool thumbnail "$sample" "$work/none.png" 2> "$work/err"; then
  fail "a template without a page made a thumbnail"
fi
[ ! -e "$work/none.png" ] || fail "a failed thumbnail wrote a file"
grep -q '^plmtool: ' "$work/err" || fail "no message for a template without a page"

# Both manual pages render without warnings.
for page in plmlooker plmtool; do
  out=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 > "$work/$page.txt") || fail "man $page"
  [ -z "$out" ] || fail "man $page warns: $out"
  grep -q "$page" "$work/$page.txt" || fail "man $page is empty"
done
# Every verb of plmtool has its entry in the manual page (an indented line that starts with it).
for verb in $("$prefix/bin/plmtool" --help | awk '/^commands:/ {on=1; next} on && NF {print $1}'); do
  grep -qE "^ {7}$verb( |$)" "$work/plmtool.txt" || fail "plmtool.1 lacks the verb $verb"
done
echo "install tree checked"
