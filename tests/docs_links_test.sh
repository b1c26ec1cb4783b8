#!/bin/sh
# Every link of README.md and docs/*.md to another file of the tree leads to
# a file, and a link with #part to a heading of its target, named as GitHub
# names headings (lower case, punctuation left out, blanks as -). Links out of
# the tree (http:, https:, mailto:) are not followed.
#
# Usage: docs_links_test.sh SOURCE_FOLDER
set -u
cd "$1" || exit 1

# The anchors of a markdown file's headings, one a line; fenced blocks skipped.
anchors() {
    awk '/^```/ { fenced = !fenced; next }
         !fenced && /^#+ / { sub(/^#+ /, ""); $0 = tolower($0); gsub(/[^a-z0-9 _-]/, ""); gsub(/ /, "-"); print }' "$1"
}

status=0
checked=0
for doc in README.md docs/*.md; do
    folder=$(dirname "$doc")
    links=$(awk '/^```/ { fenced = !fenced; next }
                 !fenced { while (match($0, /\]\([^)]*\)/)) { print substr($0, RSTART + 2, RLENGTH - 3); $0 = substr($0, RSTART + RLENGTH) } }' "$doc")
    for link in $links; do
        case $link in http:* | https:* | mailto:*) continue ;; esac
        checked=$((checked + 1))
        file=${link%%#*}
        target=$doc
        [ -n "$file" ] && target=$folder/$file
        if [ ! -f "$target" ]; then
            echo "FAIL: $doc links to $link: no file $target"
            status=1
        elif [ "$file" != "$link" ] && ! anchors "$target" | grep -qx -- "${link#*#}"; then
            echo "FAIL: $doc links to $link: $target has no such heading"
            status=1
        fi
    done
done
[ "$checked" -gt 0 ] || { echo "FAIL: no link found"; exit 1; }
[ $status -eq 0 ] && echo "PASS: $checked links"
exit $status
