#!/bin/sh
# The settings examples of the settings guide (docs/settings.md) are also
# files under examples/, which are installed and packaged: every ```ini block
# of the guide must equal one
# of the files, and every file one of the blocks, so that neither can change
# alone. Line ends do not count (the Windows package has CRLF).
#
# Usage: readme_examples_test.sh docs/settings.md EXAMPLES_FOLDER
set -u
readme=$1
examples=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/encbridge-readme-XXXXXX")
trap 'rm -rf "$work"' EXIT

awk -v dir="$work" '
    /^```ini[ \t\r]*$/ { n++; file = sprintf("%s/block-%02d.ini", dir, n); inside = 1; printf "" > file; next }
    inside && /^```[ \t\r]*$/ { inside = 0; close(file); next }
    inside { sub(/\r$/, ""); print > file }
    END { if (inside) { print "an ini block of the settings guide is not closed"; exit 1 } }
' "$readme" || exit 1

blocks=$(ls "$work"/block-*.ini 2>/dev/null)
[ -n "$blocks" ] || { echo "FAIL: no \`\`\`ini block in $readme"; exit 1; }
files=$(find "$examples" -name '*.ini' | sort)
[ -n "$files" ] || { echo "FAIL: no example file under $examples"; exit 1; }

status=0
# Each file without carriage returns, as file-N.plain in the order of $files.
n=0
for file in $files; do
    n=$((n + 1))
    tr -d '\r' <"$file" >"$work/file-$n.plain"
done
for block in $blocks; do
    found=
    for plain in "$work"/*.plain; do
        cmp -s "$block" "$plain" && found=$plain
    done
    if [ -z "$found" ]; then
        echo "FAIL: this block of $readme equals no file under $examples:"
        cat "$block"
        status=1
    fi
done
n=0
for file in $files; do
    n=$((n + 1))
    plain="$work/file-$n.plain"
    found=
    for block in $blocks; do
        cmp -s "$block" "$plain" && found=$block
    done
    [ -n "$found" ] || { echo "FAIL: $file is in no \`\`\`ini block of $readme"; status=1; }
done
[ $status -eq 0 ] && echo "PASS: $(echo "$blocks" | wc -l) blocks of $readme, $(echo "$files" | wc -l) example files"
exit $status
