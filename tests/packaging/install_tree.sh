# SPDX-License-Identifier: GPL-3.0-or-later
# The installed tree: validated desktop entry and metainfo, every MIME type of the format table
# and of the supported extensions in both, every icon size a PNG of that size, the man pages,
# a kivo-tool that runs from where it was installed, and a `kivo` launcher, free of Qt, that finds
# the viewer it starts under libexec.
source "$(dirname "$0")/common.sh"
install_build
share=$root/usr/share
entry=$share/applications/org.kivo.Kivo.desktop
metainfo=$share/metainfo/org.kivo.Kivo.metainfo.xml

for file in "$root/usr/bin/kivo" "$root/usr/libexec/kivo/kivo-viewer" "$root/usr/bin/kivo-tool" "$entry" "$metainfo" \
    "$share/icons/hicolor/scalable/apps/org.kivo.Kivo.svg" "$share/man/man1/kivo.1.gz" \
    "$share/man/man1/kivo-tool.1.gz" "$share/doc/kivo/README.md" "$share/doc/kivo/copyright"; do
    [ -s "$file" ] || fail "not installed: ${file#"$root"}"
done

desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
appstreamcli validate --no-net --no-color "$metainfo" || fail "appstreamcli rejects the metainfo"

version=$("$root/usr/bin/kivo-tool" --version) || fail "installed kivo-tool --version fails"
[ "$version" = "kivo-tool $KIVO_VERSION" ] || fail "kivo-tool --version says '$version'"
version=$("$root/usr/bin/kivo" --version) || fail "installed kivo --version fails"
[ "$version" = "kivo $KIVO_VERSION" ] || fail "kivo --version says '$version'"
! objdump -p "$root/usr/bin/kivo" | grep -q 'NEEDED.*Qt' || fail "the kivo launcher links Qt"

# What the format table declares, and what the system's MIME database assigns to the file names
# a file manager offers Kivo for: both must be in the entry, the table also in the metainfo.
entry_types=";$(sed -n 's/^MimeType=//p' "$entry")"
expected=$("$root/usr/bin/kivo-tool" mime-types)
[ -n "$KIVO_MIME_EXTENSIONS" ] || fail "no extensions given"
for extension in $KIVO_MIME_EXTENSIONS; do
    by_name=$(awk -F: -v glob="*.$extension" 'tolower($3) == glob { print $2 }' \
        /usr/share/mime/globs2)
    [ -n "$by_name" ] || fail "the MIME database knows no type for .$extension"
    expected+=$'\n'$by_name
done
for type in $expected; do
    [[ $entry_types == *";$type;"* ]] || fail "MimeType= lacks $type"
done
for type in $("$root/usr/bin/kivo-tool" mime-types); do
    grep -q "<mediatype>$type</mediatype>" "$metainfo" || fail "metainfo lacks $type"
done

for size in 16 24 32 48 64 128 256 512; do
    icon=$share/icons/hicolor/${size}x${size}/apps/org.kivo.Kivo.png
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    file -b "$icon" | grep -q "^PNG image data, $size x $size," ||
        fail "${size}x${size} icon is $(file -b "$icon")"
done

for page in kivo kivo-tool; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 \
        >/dev/null)
    [ -z "$warnings" ] || fail "man page $page: $warnings"
done
echo "install tree complete and valid"
