#!/bin/sh
# encbridge-try.exe as a user runs it, under wine: from a folder with
# blanks, beside the DLL, with settings under "Program Files (x86)". Every
# shipped example but opusenc's, with its real encoder, makes three files
# that decode, with their titles; settings that the module refuses, or that
# fail, give their reason and exit status; and its dry run prints exactly
# the arguments that a fake encoder then receives (its CommandLineToArgvW
# split), its verify lines' too, in the ANSI code pages 1252 and 932.
#
#   try_end_to_end.sh WINE_RUN TRY_EXE DLL FAKE_ENCODER WORK_FOLDER
set -u
wine_run=$1 try=$2 dll=$3 fake=$4 work=$5
top=$(cd "$(dirname "$0")/.." && pwd)
tools="flac ffprobe iconv"
. "$top/tests/support/windows_encoders.sh"
rm -rf "$work" && mkdir -p "$work/try here" "$work/Program Files (x86)/x" "$work/enc dir" || fail "cannot make $work"
work=$(cd "$work" && pwd)
cp "$try" "$dll" "$work/try here/" && cp "$ffmpeg_exe" "$encoders/flac.exe" "$encoders/metaflac.exe" \
    "$encoders/lame.exe" "$fake" "$work/enc dir/" || fail "cannot copy the programs"
printf '@copy /y %%1 %%2 >nul\r\n' >"$work/enc dir/copy it.bat"
windows_path() { printf 'Z:%s' "$1" | tr / '\134'; }
enc=$(windows_path "$work/enc dir")
ini=$work/Program\ Files\ \(x86\)/x

# settings NAME FROM PROGRAM [COMMAND]: FROM's lines as NAME, its programs
# those of enc dir, and its COMMAND the one given.
settings() {
    while IFS= read -r line; do
        case $line in
        EXEPATH=*) line="EXEPATH=$enc\\$3" ;;
        ALBUM_EXEPATH=*) line="ALBUM_EXEPATH=$enc\\metaflac.exe" ;;
        VERIFY_EXEPATH=*) line="VERIFY_EXEPATH=$enc\\$3" ;;
        COMMAND=*) [ -z "${4:-}" ] || line="COMMAND=$4" ;;
        esac
        printf '%s\r\n' "$line"
    done <"$2" >"$ini/$1"
}
for example in ffmpeg-flac ffmpeg-mp3 ffmpeg-opus flac flac-replaygain lame; do
    program=${example%%-*}.exe
    settings $example.ini "$top/examples/windows/$example.ini" "$program"
done
settings broken.ini "$top/examples/windows/flac.ini" "no such\\flac.exe"
settings rejected.ini "$top/examples/windows/flac.ini" flac.exe "--no-such-option %i%"
printf '[SETUP]\nOUT=.bin\n[OPTION]\nEXEPATH=x\nCOMMAND=x\n' >"$work/plain.ini"
settings batch.ini "$work/plain.ini" "copy it.bat" "%i% %o% %ttit%"
settings fake.ini "$work/plain.ini" fake_encoder.exe \
    "--log \"$(windows_path "$work/runs.log")\" --tag %ttit% --tag %tart% --tag %no2 --tag %agen% --tag ISRC=%tisr% %i% %o%"
printf 'VERIFY=exact\r\nVERIFY_EXEPATH=%s\\fake_encoder.exe\r\nVERIFY_COMMAND=--log "%s" --decode --tag %%ttit%% %%o%%\r\n' \
    "$enc" "$(windows_path "$work/runs.log")" >>"$ini/fake.ini"
printf '[ALBUM]\r\nGENRE=Jazz & Blues\r\n[TRACK02]\r\nISRC=USRC17607839\r\n' >>"$ini/fake.ini"
settings unknown.ini "$work/plain.ini" fake_encoder.exe "--tag %genre% %i% %o%"

# try CODE_PAGE NAME [--dry-run]: runs encbridge-try.exe on NAME into "out NAME".
try() {
    ENCBRIDGE_WINE_CODEPAGE=$([ "$1" = 932 ] && echo 932) "$wine_run" "$work/try here/encbridge-try.exe" ${3:-} \
        "$(windows_path "$ini/$2")" "$(windows_path "$work/out $2")" >"$work/said.txt" 2>&1
}

problems=0
problem() {
    printf 'try_end_to_end: %s: %s\n' "$name" "$*" >&2
    echo "--- what encbridge-try.exe said:" >&2
    iconv -f cp1252 -t utf-8 "$work/said.txt" >&2
    problems=$((problems + 1))
}
# The example's files: the tracks' names and titles as the cp1252 prefix
# keeps them, decoding to their second.
titles='Café "Bleu" à la carte|100% Straße, Grüße|Three Ångström'
names='01 Café Bleu|02 Straße|03  Ångström'
while read -r name status words extension; do
    try 1252 "$name"
    got=$?
    [ "$got" -eq "$status" ] || problem "exit status $got, not $status"
    grep -qz -- "$words" "$work/said.txt" || problem "says no $words"
    [ "$extension" = - ] && continue
    made=$(cd "$work/out $name" && ls -- *."$extension" | sed "s/\\.$extension\$//" | paste -sd'|')
    [ "$made" = "$names" ] || problem "made [$made], not [$names]"
    seen=
    for file in "$work/out $name"/*."$extension"; do
        seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
        case $extension:$seconds in flac:*) flac -t -s "$file" || problem "$file does not decode" ;;
        *:0.9* | *:1.0*) ;; *) problem "$file lasts [$seconds] s, not 1" ;; esac
        seen=$seen${seen:+|}$(ffprobe -v error -show_entries format_tags=title:stream_tags=title -of default=nw=1:nk=1 "$file")
    done
    [ "$seen" = "$titles" ] || problem "titles [$seen], not [$titles]"
done <<'TABLE'
ffmpeg-flac.ini      0 Every.file.was.made flac
ffmpeg-mp3.ini       0 Every.file.was.made mp3
ffmpeg-opus.ini      0 Every.file.was.made opus
flac.ini             0 Every.file.was.made flac
flac.ini             3 NOT.made:.final-name-exists -
flac-replaygain.ini  0 Every.file.was.made flac
lame.ini             0 Every.file.was.made mp3
broken.ini           1 refuses.*encoder-not-usable -
rejected.ini         3 NOT.made:.encoder-failed.*unrecognized.option -
batch.ini            3 NOT.made:.value-unsafe -
unknown.ini          0 holds.%genre%,.which.no.tag.*Its.tags:.*%agen% -
TABLE

# Without a DLL beside it, the program loads none, not even the current folder's.
name="alone" && mkdir -p "$work/alone" && cp "$try" "$work/alone/"
(cd "$work/try here" && "$wine_run" "$work/alone/encbridge-try.exe" "$(windows_path "$ini/flac.ini")" >"$work/said.txt" 2>&1)
[ $? -eq 2 ] && grep -q "cannot load" "$work/said.txt" || problem "it did not refuse to run without its DLL"

# The dry run's arguments, the verify lines' among them, are those the fake encoder then receives.
for page in 1252 932; do
    name="dry run in code page $page"
    rm -f "$work/runs.log" && rm -rf "$work/out fake.ini"
    try $page fake.ini --dry-run || problem "dry run exit status $?"
    tr -d '\r' <"$work/said.txt" | sed -n 's/^  program:    //p; s/^  argument [0-9]*: //p' >"$work/shown.txt"
    try $page fake.ini || problem "exit status $?"
    sed -n 's/^wide-arg //p' "$work/runs.log" >"$work/received.txt"
    [ "$(wc -l <"$work/received.txt")" -ge 30 ] || problem "the fake encoder ran with too few arguments"
    cmp -s "$work/shown.txt" "$work/received.txt" || problem "$(diff "$work/shown.txt" "$work/received.txt")"
    [ "$(grep -c -e '^Jazz & Blues$' -e '^ISRC=USRC17607839$' "$work/shown.txt")" -eq 4 ] ||
        problem "the settings file's genre and ISRC are not on the lines"
done
# Arguments and settings that it cannot try with, or that the module
# refuses: each row's exit status and words, for its arguments as cmd.exe
# reads them (INI the settings' folder, W the work folder); a row marked
# notemp runs with TMP and TEMP naming a missing folder.
long=$(printf 'd%.0s' $(seq 270))
deep=x$(printf 'e%.0s' $(seq 200))\\$(printf 'f%.0s' $(seq 70))
mkdir -p "$work/Outils été" "$work/$(printf '%s' "$deep" | tr '\134' /)" && cp "$fake" "$work/Outils été/" &&
    cp "$ini/fake.ini" "$work/$(printf '%s' "$deep" | tr '\134' /)/s.ini" && : >"$work/a file" || fail "cannot make $work"
printf '[SETUP]\r\nOUT=.bin\r\n[OPTION]\r\nEXEPATH=%s\\Outils été\\fake_encoder.exe\r\nCOMMAND=%%i%% %%o%%\r\n' \
    "$(windows_path "$work")" >"$ini/utf8.ini"
{ printf '\377\376' && iconv -f utf-8 -t utf-16le "$ini/utf8.ini"; } >"$ini/utf16.ini"
printf '[SETUP]\r\nOUT=.bin\r\n[OPTION]\r\nEXEPATH=%s\\fake_encoder.exe\r\nVERIFY=exact\r\n%s\r\n' "$enc" \
    'VERIFY_EXEPATH=Z:\nowhere\flac.exe' >"$ini/noverify.ini"
while IFS='|' read -r status words environment arguments; do
    name=$arguments
    {
        printf '@set INI=%s\r\n@set W=%s\r\n' "$(windows_path "$ini")" "$(windows_path "$work")"
        printf '@set LONG=%s\r\n@set DEEP=%s\r\n' "$long" "$deep"
        [ "$environment" = notemp ] && printf '@set TMP=C:\\no\\such\r\n@set TEMP=C:\\no\\such\r\n'
        printf '@"%s" %s\r\n@exit %%ERRORLEVEL%%\r\n' "$(windows_path "$work/try here/encbridge-try.exe")" "$arguments"
    } >"$work/row.bat"
    "$wine_run" cmd /c "$(windows_path "$work/row.bat")" </dev/null >"$work/said.txt" 2>&1
    got=$?
    [ "$got" -eq "$status" ] || problem "exit status $got, not $status"
    grep -qF -- "$words" "$work/said.txt" || problem "says no $words"
done <<'TABLE'
2|it is a file, not a folder|-|"%INI%\fake.ini" "%W%\a file"
2|characters long, and a file's path in it may have at most 259|-|"%INI%\fake.ini" "%W%\%LONG%"
1|settings-path-too-long|-|"%W%\%DEEP%\s.ini"
2|which TMP or TEMP names, cannot be used|notemp|"%INI%\fake.ini" "%W%\out temp"
2|2 it could not try|-|
1|VERIFY_EXEPATH is Z:\nowhere\flac.exe|-|"%INI%\noverify.ini"
1|Save As with the encoding ANSI|-|"%INI%\utf8.ini"
0|Read as: UTF-16 LE|-|"%INI%\utf16.ini" "%W%\out utf16"
TABLE
echo "try_end_to_end: $problems problems"
[ "$problems" -eq 0 ]
