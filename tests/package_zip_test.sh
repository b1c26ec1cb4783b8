#!/bin/sh
# The Windows package: exactly the DLL, encbridge-try.exe, README.txt and the Windows settings
# examples, the DLL without debug sections or symbol table, the texts equal
# to the tree's but with CRLF line ends, and a README for Windows users that
# names no command of the developers' side.
#
# With WINE_RUN, it then runs each command line of README.txt as a user
# types it, with the zip unpacked where README.txt's lines say (under
# "C:\Program Files (x86)") and the example for flac.exe as the settings,
# checking its exit status and a line of what it says.
#
# Usage: package_zip_test.sh ZIP OBJDUMP WINDOWS_README EXAMPLES_FOLDER [WINE_RUN]
set -u
zip=$1
objdump=$2
readme=$3
examples=$4
wine_run=${5:-}
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
[ -n "$wine_run" ] || { echo "PASS: $(wc -l <unpacked.txt) files in ${zip##*/}"; exit 0; }

# README.txt's command lines, each with the folder it is run in, its exit
# status and words it prints. A line of README.txt missing here, or one here
# that it no longer holds, fails.
cat >lines.txt <<'TABLE'
"C:\Program Files (x86)\MyRipper\Plugins\encbridge-try.exe" "C:\Users\Me\encbridge.ini"|C:\Users\Me|0|Every file was made.
encbridge-try.exe "C:\Users\Me\encbridge.ini" "C:\Users\Me\Music\try"|C:\Program Files (x86)\MyRipper\Plugins|0|Every file was made.
encbridge-try.exe --dry-run "C:\Users\Me\encbridge.ini"|C:\Program Files (x86)\MyRipper\Plugins|0|Dry run: nothing is ripped.
TABLE
tr -d '\r' <README.txt | sed -n 's/^  \(\("[^"]*\\\)\{0,1\}encbridge-try\.exe[ "].*"\)$/\1/p' | sort >readme-lines.txt
cut -d'|' -f1 lines.txt | sort | diff -u - readme-lines.txt || fail "README.txt's command lines are not the table's (above)"
encoders=$("$(dirname "$0")/../tools/build-win-encoders" --path) || fail "no flac.exe"
"$wine_run" cmd /c exit 0 || fail "wine does not run"
# The lines name these folders of the prefix: one test at a time uses them.
drive_c=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/encbridge-wine}/drive_c
exec 9>"$drive_c/../.encbridge-readme-lines.lock" && flock 9 || fail "cannot lock the prefix's folders"
x86="$drive_c/Program Files (x86)" && me="$drive_c/users/Me" && flac="$drive_c/Program Files/FLAC"
[ -d "$x86" ] && ripper="$x86/MyRipper" || ripper=$x86
trap 'rm -rf "$work" "$ripper" "$me" "$flac"' EXIT
rm -rf "$ripper" "$me" "$flac" && mkdir -p "$x86/MyRipper/Plugins" "$me" "$flac" || fail "cannot make folders in $drive_c"
(cd "$x86/MyRipper/Plugins" && cmake -E tar xf "$zip") && cp "$encoders/flac.exe" "$flac/" &&
    cp encbridge-examples/flac.ini "$me/encbridge.ini" || fail "cannot install the package, flac.exe or its settings"
problems=0
while IFS='|' read -r line folder status words; do
    printf '@cd /d "%s"\r\n%s\r\n@exit %%ERRORLEVEL%%\r\n' "$folder" "$line" >"$me/line.bat"
    "$wine_run" cmd /c 'C:\Users\Me\line.bat' </dev/null >said.txt 2>&1
    got=$?
    # A folder that the try made in the temp folder goes once seen.
    temp=$(tr -d '\r' <said.txt | sed -n 's/^Ripping three tracks into C:\(.*\\Temp\\encbridge-try [0-9]*\)\\$/\1/p')
    [ -z "$temp" ] || rm -rf "$drive_c$(printf '%s' "$temp" | tr '\134' /)"
    [ "$got" -eq "$status" ] && grep -qF "$words" said.txt || {
        printf 'FAIL: %s: exit status %s, not %s, or no "%s"; it said:\n' "$line" "$got" "$status" "$words"
        cat said.txt && problems=$((problems + 1))
    }
done <lines.txt
[ "$problems" -eq 0 ] || fail "$problems of README.txt's command lines did not do what it says"
echo "PASS: $(wc -l <unpacked.txt) files in ${zip##*/}, $(wc -l <lines.txt) command lines of README.txt"
