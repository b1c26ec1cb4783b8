#!/bin/sh
# The Windows package: exactly the DLL, encbridge-try.exe, README.txt and the Windows settings
# examples, the DLL without debug sections or symbol table, the texts equal
# to the tree's but with CRLF line ends, and a README for Windows users that
# names no command of the developers' side.
#
# Usage: package_zip_test.sh ZIP OBJDUMP WINDOWS_README EXAMPLES_FOLDER
set -u
zip=$1
objdump=$2
readme=$3
examples=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/encbridge-zip-test-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

[ -f "$zip" ] || fail "no package at $zip"
cd "$work" || exit 1
cmake -E tar xf "$zip" || fail "$zip does not unpack"

{
    echo encbridge.dll
    echo encbridge-try.exe
    echo README.txt
    for example in "$examples"/*.ini; do
        echo "encbridge-examples/${example##*/}"
    done
} | sort >expected.txt
find . -type f ! -name expected.txt ! -name unpacked.txt | sed 's|^\./||' | sort >unpacked.txt
diff -u expected.txt unpacked.txt || fail "the package holds other files than expected"
[ "$(grep -c ini expected.txt)" -ge 6 ] || fail "fewer examples than the README's six for Windows"

# Stripped: no debug sections, no COFF symbol table.
for program in encbridge.dll encbridge-try.exe; do
    "$objdump" -h $program >sections.txt || fail "objdump cannot read $program"
    grep -q '\.debug' sections.txt && fail "$program has debug sections: $(grep '\.debug' sections.txt)"
    "$objdump" -t $program >symbols.txt 2>&1
    grep -qx "no symbols" symbols.txt || fail "$program has a symbol table: $(head -5 symbols.txt)"
done

# windows_text FILE TREE_FILE: FILE has CRLF at every line end and is
# TREE_FILE otherwise.
windows_text() {
    lines=$(wc -l <"$1")
    crlf=$(grep -c "$(printf '\r')\$" "$1")
    [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ] || fail "$1: $crlf of $lines lines end in CRLF"
    tr -d '\r' <"$1" | cmp -s - "$2" || fail "$1 is not $2"
}
windows_text README.txt "$readme"
# Words of the developers' README and its shells, which a Windows user has
# no use for.
if grep -Eino 'sudo|apt-get|dpkg|cmake|ctest|ninja|\bwine\b|tools/|/usr/|/etc/|~/|\$HOME|\.so\b|\bsh\b|bash|chmod|encbridge-host|linux|debian' README.txt; then
    fail "README.txt names a command or file of the developers' side (above)"
fi
for example in "$examples"/*.ini; do
    grep -qF "${example##*/}" README.txt || fail "README.txt does not name the example ${example##*/}"
done
for example in "$examples"/*.ini; do
    windows_text "encbridge-examples/${example##*/}" "$example"
done
echo "PASS: $(wc -l <unpacked.txt) files in ${zip##*/}"
