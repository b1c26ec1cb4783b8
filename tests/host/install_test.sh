#!/bin/sh
# cmake --install of the Linux build, into a staging folder (DESTDIR) and then
# moved elsewhere, as a package would be: exactly the expected files, and an
# installed host that finds its module and settings from its own folder and
# rips the demo album with nothing but --out.
#
# Usage: install_test.sh CMAKE BUILD_FOLDER LIBDIR
set -u
cmake=$1
build=$2
libdir=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/encbridge-install-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
    echo "FAIL: $*"
    [ -f out.txt ] && { echo "--- output:"; cat out.txt; }
    exit 1
}

expect_text() {
    grep -qF -- "$1" out.txt || fail "expected \"$1\""
}

DESTDIR=$work/stage "$cmake" --install "$build" --prefix /opt/encbridge >out.txt 2>&1 || fail "cmake --install failed"

# Nothing of the tests (programs, GoogleTest) and nothing else.
cat >expected.txt <<LIST
bin/encbridge-host
$libdir/encbridge/libencbridge.so
share/doc/encbridge/README.md
share/doc/encbridge/design.md
share/doc/encbridge/host.md
share/doc/encbridge/journal.md
share/doc/encbridge/performance.md
share/doc/encbridge/platform-measurements.md
share/doc/encbridge/settings.md
share/doc/encbridge/testing.md
share/doc/encbridge/examples/flac-opus.ini
share/doc/encbridge/examples/flac.ini
share/doc/encbridge/examples/mp3.ini
share/doc/encbridge/examples/opus.ini
share/man/man1/encbridge-host.1
LIST
(cd stage/opt/encbridge && find . -type f -o -type l) | sed 's|^\./||' | sort >installed.txt
sort expected.txt | diff -u - installed.txt >out.txt || fail "the installed files are not the expected ones"

# A prefix moved whole still works: the host looks from where it is.
mkdir moved
mv stage/opt/encbridge moved/prefix
prefix=$work/moved/prefix
host=$prefix/bin/encbridge-host
# No settings of the user's or the system's may take part.
export HOME="$work/home"
unset XDG_CONFIG_HOME
[ -e /etc/encbridge/encbridge.ini ] && echo "note: /etc/encbridge/encbridge.ini exists and is used where the example would be"

"$host" --out demo >out.txt 2>&1 || fail "the demo rip: exit status $?"
expect_text "module   $prefix/bin/../$libdir/encbridge/libencbridge.so"
expect_text "settings $work/demo/source/encbridge.ini"
[ "$(ls demo/*.flac | wc -l)" -eq 4 ] || fail "expected four FLAC files: $(ls demo)"
for file in demo/*.flac; do
    flac -s -t "$file" || fail "$file does not decode"
done

# A cue sheet and no settings of the user's: the installed FLAC example.
cue=$work/demo/source/album.cue
if [ ! -e /etc/encbridge/encbridge.ini ]; then
    "$host" "$cue" --out ripped --dry-run >out.txt 2>&1 || fail "dry run with the example: exit status $?"
    expect_text "Note: no settings file of your own; using $prefix/bin/../share/doc/encbridge/examples/flac.ini"
    expect_text "copy it to $work/home/.config/encbridge/encbridge.ini"
    expect_text "program  /usr/bin/flac"
fi

# The user's settings, in ~/.config and in $XDG_CONFIG_HOME; a relative
# XDG_CONFIG_HOME does not count.
for config in "$work/home/.config" "$work/xdg"; do
    mkdir -p "$config/encbridge"
    sed 's/^COMMAND=/COMMAND=-8 /' "$prefix/share/doc/encbridge/examples/flac.ini" >"$config/encbridge/encbridge.ini"
done
for xdg in "" "xdg" "$work/xdg"; do
    expected=$work/home/.config/encbridge/encbridge.ini
    [ "$xdg" = "$work/xdg" ] && expected=$work/xdg/encbridge/encbridge.ini
    XDG_CONFIG_HOME=$xdg "$host" "$cue" --out ripped --dry-run >out.txt 2>&1 ||
        fail "XDG_CONFIG_HOME=$xdg: exit status $?"
    expect_text "Dry run: nothing is ripped. Settings $expected"
    expect_text "argument -8"
    grep -q "^Note: no settings file" out.txt && fail "XDG_CONFIG_HOME=$xdg: the example was used"
    XDG_CONFIG_HOME=$xdg "$host" --help >out.txt 2>&1 || fail "--help: exit status $?"
    expect_text "this run would use the settings file $expected (the user's settings)"
done
# The demo keeps its own settings whatever the user has.
"$host" --out demo >out.txt 2>&1 || fail "the demo rip with user settings: exit status $?"
expect_text "settings $work/demo/source/encbridge.ini"

"$host" --version >out.txt 2>&1 || fail "--version: exit status $?"
grep -qx "encbridge-host (encbridge) [0-9][0-9.]*" out.txt || fail "--version does not name the version"

# The manual page is docs/host.md, and man renders it.
page=$prefix/share/man/man1/encbridge-host.1
if command -v man >/dev/null 2>&1; then
    MANPAGER=cat MANWIDTH=80 man -l "$page" >out.txt 2>&1 || fail "man -l $page failed"
else
    echo "note: no man program; reading the page's source instead"
    cp "$page" out.txt
fi
expect_text "encbridge-host - rip a CD image through the encbridge module"
expect_text "--first-pregap"
grep -q "XDG_CON" out.txt || fail "the page does not describe the settings' order"
# The sections a manual page has, in their order.
sections=$(awk 'previous == ".SH" { printf "%s/", $0 } { previous = $0 }' "$page")
[ "$sections" = "NAME/SYNOPSIS/DESCRIPTION/OPTIONS/EXIT STATUS/ENVIRONMENT/FILES/EXAMPLES/SEE ALSO/" ] ||
    fail "the page's sections are $sections"
# Every option that --help lists is described on the page.
"$host" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u >options.txt
[ -s options.txt ] || fail "--help lists no option"
sed 's/\\-/-/g' "$page" >page.txt
while read -r option; do
    grep -qF -- "$option" page.txt || fail "the manual page does not describe $option"
done <options.txt
# The installed README's links to the guides point beside it.
grep -q '](docs/' "$prefix/share/doc/encbridge/README.md" && fail "the installed README links to docs/"
echo "PASS (install)"
