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

# README.txt's command lines: where each is run, its exit status and a
# line it prints. A line of README.txt missing here, or one here that
# README.txt no longer holds, fails.
plugins='C:\Program Files (x86)\MyRipper\Plugins'
cat >lines.txt <<'TABLE'
"C:\Program Files (x86)\MyRipper\Plugins\encbridge-try.exe" "C:\Users\Me\encbridge.ini"|C:\Users\Me|0|Every file was made.
encbridge-try.exe "C:\Users\Me\encbridge.ini" "C:\Users\Me\Music\try"|PLUGINS|0|Every file was made.
encbridge-try.exe --dry-run "C:\Users\Me\encbridge.ini"|PLUGINS|0|Dry run: nothing is ripped.
TABLE
tr -d '\r' <README.txt | sed -n 's/^  \(\("[^"]*\\\)\{0,1\}encbridge-try\.exe[ "].*"\)$/\1/p' | sort >readme-lines.txt
cut -d'|' -f1 lines.txt | sort | diff -u - readme-lines.txt || fail "README.txt's command lines are not those of the table (above)"
encoders=$("$(dirname "$0")/../tools/build-win-encoders" --path) || fail "no flac.exe"
"$wine_run" cmd /c exit 0 || fail "wine does not run"
drive_c=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/encbridge-wine}/drive_c
unix_path() { printf '%s' "$1" | sed "s|^C:.Users.|C:/users/|; s|^C:|$drive_c|; s|\\\\|/|g"; }
# The lines name these folders of the prefix: one test at a time uses them.
exec 9>"$drive_c/../.encbridge-readme-lines.lock" && flock 9 || fail "cannot lock the prefix's folders"
ripper=$(unix_path 'C:\Program Files (x86)\MyRipper')
me=$(unix_path 'C:\Users\Me')
flac=$(unix_path 'C:\Program Files\FLAC')
x86="$drive_c/Program Files (x86)"
[ -d "$x86" ] && x86=
trap 'rm -rf "$work" "$ripper" "$me" "$flac"; [ -z "$x86" ] || rmdir "$x86"' EXIT
rm -rf "$ripper" "$me" "$flac" && mkdir -p "$ripper/Plugins" "$me" "$flac" || fail "cannot make the folders in $drive_c"
(cd "$ripper/Plugins" && cmake -E tar xf "$zip") || fail "$zip does not unpack into $plugins"
cp "$encoders/flac.exe" "$flac/" && cp encbridge-examples/flac.ini "$me/encbridge.ini" || fail "cannot install flac.exe"
problems=0
while IFS='|' read -r line folder status words; do
    [ "$folder" = PLUGINS ] && folder=$plugins
    printf '@cd /d "%s"\r\n%s\r\n@exit %%ERRORLEVEL%%\r\n' "$folder" "$line" >"$me/line.bat"
    "$wine_run" cmd /c 'C:\Users\Me\line.bat' </dev/null >said.txt 2>&1
    got=$?
    tr -d '\r' <said.txt >said-lf.txt
    # A folder in the temp folder is the try's own: it goes once seen.
    temp=$(sed -n 's/^Ripping three tracks into \(C:.*\\Temp\\encbridge-try [0-9]*\\\)$/\1/p' said-lf.txt)
    [ -z "$temp" ] || rm -rf "$(unix_path "$temp")"
    if [ "$got" -ne "$status" ] || ! grep -qF "$words" said-lf.txt; then
        printf 'FAIL: %s: exit status %s (not %s), or no "%s"; it said:\n' "$line" "$got" "$status" "$words"
        cat said-lf.txt
        problems=$((problems + 1))
    fi
done <lines.txt
[ "$problems" -eq 0 ] || fail "$problems of README.txt's command lines did not do what it says"
echo "PASS: $(wc -l <unpacked.txt) files in ${zip##*/}, $(wc -l <lines.txt) command lines of README.txt"
