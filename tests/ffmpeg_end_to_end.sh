#!/bin/sh
# Rips through the DLL with real Windows encoders: runs ffmpeg_rip_tests
# under wine, which rips albums with copies of the Windows ffmpeg.exe that
# tools/install-deps fetched and of the flac.exe, metaflac.exe and lame.exe
# that it built (tools/build-win-encoders), then checks with the Linux tools
# what those rips left, line by line of their manifest:
#
#   audio  FILE RAW         FILE decodes (flac) to exactly the bytes of RAW
#   length FILE FRAMES      FILE decodes to FRAMES frames at 44.1 kHz, or as
#                           long at the rate it was encoded with
#   tag    FILE KEY VALUE   FILE holds the tag KEY once, with VALUE (UTF-8)
#   gain   FILE KEY         FILE holds the tag KEY once, a gain such as -7.25 dB
#
# Fails when a Windows encoder or a tool is missing: it never passes without
# them.
#
#   ffmpeg_end_to_end.sh WINE_RUN TEST_PROGRAM WORK_FOLDER [GTEST_ARGS...]
set -u
[ $# -ge 3 ] || {
    echo "usage: ffmpeg_end_to_end.sh WINE_RUN TEST_PROGRAM WORK_FOLDER [GTEST_ARGS...]" >&2
    exit 2
}
wine_run=$1 program=$2 work=$3
shift 3
top=$(cd "$(dirname "$0")/.." && pwd)
tools="flac metaflac ffmpeg ffprobe"
. "$top/tests/support/windows_encoders.sh"

if ! mkdir -p "$work" || ! work=$(cd "$work" && pwd) || ! rm -rf "${work:?}"/*; then
    fail "cannot empty $work"
fi
# Wine's drive Z: is the Linux root.
windows_path() { printf 'Z:%s' "$1" | tr / '\134'; }

ENCBRIDGE_FFMPEG=$(windows_path "$ffmpeg_exe") ENCBRIDGE_RIP_ROOT=$(windows_path "$work") \
    ENCBRIDGE_ENCODERS=$(windows_path "$encoders") ENCBRIDGE_EXAMPLES=$(windows_path "$top/examples/windows") \
    "$wine_run" "$program" "$@"
rips=$?
[ -s "$work/manifest.txt" ] || fail "the rips wrote no manifest in $work"

checks=0
problems=0
problem() {
    echo "ffmpeg_end_to_end: $file: $*" >&2
    problems=$((problems + 1))
}

# The one value of tag $1 in $path, in UTF-8; nothing when it is not there
# exactly once.
tag_value() {
    case $path in
    *.flac) values=$(metaflac --no-utf8-convert --show-tag="$1" "$path") || return ;;
    *) values=$(ffprobe -v error -show_entries "format_tags=$1:stream_tags=$1" -of default=nw=1 "$path") || return ;;
    esac
    [ -n "$values" ] && [ "$(printf '%s\n' "$values" | wc -l)" -eq 1 ] && printf '%s' "${values#*=}"
}

tab=$(printf '\t')
decoded=$(mktemp)
trap 'rm -f "$decoded"' EXIT
# The manifest comes in on descriptor 3, so that no tool reads it as its input.
while IFS=$tab read -r kind file a b <&3; do
    path=$work/$file
    checks=$((checks + 1))
    if [ ! -f "$path" ]; then
        problem "missing"
        continue
    fi
    case $kind in
    audio)
        if ! flac -d -s -f --force-raw-format --endian=little --sign=signed -o "$decoded" "$path"; then
            problem "does not decode"
        elif ! cmp -s "$decoded" "$work/$a"; then
            problem "decodes to $(wc -c <"$decoded") bytes that differ from the $(wc -c <"$work/$a") delivered ($a)"
        fi
        ;;
    length)
        rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 "$path")
        # A stream with side data (LAME's gain of an MP3) adds empty fields.
        rate=${rate%%,*}
        bytes=$(ffmpeg -nostdin -v error -i "$path" -f s16le -ac 2 - | wc -c)
        frames=$((bytes / 4))
        # At another rate the length is whole frames on either side of the exact one.
        low=$((a * rate / 44100))
        high=$(((a * rate + 44099) / 44100))
        if [ -z "$rate" ] || [ "$frames" -lt "$low" ] || [ "$frames" -gt "$high" ]; then
            problem "decodes to $frames frames at ${rate:-no} Hz, not $a at 44100 Hz"
        fi
        ;;
    tag)
        value=$(tag_value "$a")
        [ "$value" = "$b" ] || problem "tag $a is [$value], not [$b]"
        ;;
    gain)
        value=$(tag_value "$a")
        printf '%s\n' "$value" | grep -Eqx -- '[-+]?[0-9]+\.[0-9]{2} dB' || problem "tag $a is [$value], not a gain"
        ;;
    *)
        problem "unknown check $kind"
        ;;
    esac
done 3<"$work/manifest.txt"

echo "ffmpeg_end_to_end: $checks checks of the encoded files, $problems failed; the rips under wine exited with $rips"
[ "$rips" -eq 0 ] && [ "$problems" -eq 0 ] && [ "$checks" -gt 0 ]
