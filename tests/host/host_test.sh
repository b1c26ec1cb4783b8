#!/bin/sh
# End-to-end tests of encbridge-host with the real flac encoder: a generated
# CD image and cue sheet with INDEX 00 pregaps go through the built module,
# and every encoded track, decoded again, must equal its range of the image
# byte for byte. Also the errors a user meets, each with its message.
#
# Usage: host_test.sh HOST PARTIAL_MODULE CASE
set -u
host=$1
partial=$2
case=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/encbridge-host-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
    echo "FAIL ($case): $*"
    [ -f out.txt ] && { echo "--- output:"; cat out.txt; }
    exit 1
}

# Sectors of 2,352 bytes: INDEX 01 of each track, and the image's length in
# sample frames, which is no whole number of sectors, so that the last track
# ends inside a sector.
starts="0 225 483 565"
image_frames=470000
# Track 2 has a pregap from 150, track 4 from 525: both belong to the track
# before them.
make_image() {
    sox -R -r 44100 -c 2 -n -b 16 -e signed -t raw image.raw synth "${image_frames}s" whitenoise vol 0.5 ||
        fail "sox could not make the image"
    [ "$(wc -c <image.raw)" -eq $((image_frames * 4)) ] || fail "sox made an image of another length"
    sox -t raw -r 44100 -c 2 -b 16 -e signed image.raw image.wav || fail "sox could not write image.wav"
    audio=image.wav
    case ${1:-wav} in
    flac)
        flac -s -o image.flac image.wav || fail "flac could not encode the image"
        rm image.wav
        audio=image.flac
        ;;
    aiff)
        sox image.wav image.aiff || fail "sox could not write image.aiff"
        rm image.wav
        audio=image.aiff
        ;;
    esac
    cat >album.cue <<CUE
REM DATE 1999
REM COMMENT "from the test"
PERFORMER "Test Band"
TITLE "Test Album"
FILE "$audio" WAVE
  TRACK 01 AUDIO
    TITLE "First Light"
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    TITLE "Second: A/B?"
    PERFORMER "Guest"
    INDEX 00 00:02:00
    INDEX 01 00:03:00
  TRACK 03 AUDIO
    TITLE "Third"
    INDEX 01 00:06:33
  TRACK 04 AUDIO
    TITLE "Fourth"
    INDEX 00 00:07:00
    INDEX 01 00:07:40
CUE
}

write_settings() {
    cat >encbridge.ini <<INI
[SETUP]
OUT=.flac
[OPTION]
EXEPATH=${1:-/usr/bin/flac}
COMMAND=-s -f -T TITLE=%ttit% -o %o% %i%
DELETE=1
WIN_HIDE=1
INI
}

# run_host ARGS...: runs the host with this test's settings, output in out.txt.
run_host() {
    "$host" album.cue --settings "$work/encbridge.ini" "$@" >out.txt 2>&1
}

# Byte range of track n (from 1) in image.raw: offset and length.
track_range() {
    n=$1
    i=0
    first=
    next=
    for s in $starts; do
        i=$((i + 1))
        [ $i -eq "$n" ] && first=$s
        [ $i -eq $((n + 1)) ] && next=$s
    done
    offset=$((first * 2352))
    if [ -n "$next" ]; then
        length=$((next * 2352 - offset))
    else
        length=$((image_frames * 4 - offset))
    fi
}

# check_track N FILE: FILE decodes to exactly track N's bytes of the image.
check_track() {
    [ -f "$2" ] || fail "track $1: no file $2"
    rm -f decoded.raw
    flac -s -d --force-raw-format --endian=little --sign=signed -o decoded.raw "$2" || fail "track $1: $2 does not decode"
    track_range "$1"
    size=$(wc -c <decoded.raw)
    [ "$size" -eq "$length" ] || fail "track $1: $size bytes decoded, the image's range has $length"
    cmp -s -i "0:$offset" -n "$length" decoded.raw image.raw || fail "track $1: decoded audio differs from the image"
}

expect_text() {
    grep -qF -- "$1" out.txt || fail "the output lacks: $1"
}

# expect_error TEXT ARGS...: the host exits non-zero and says TEXT.
expect_error() {
    text=$1
    shift
    "$host" "$@" >out.txt 2>&1 && fail "exit status 0 for: $*"
    expect_text "$text"
}

no_leftovers() {
    for left in out/#temp*; do
        [ -e "$left" ] && fail "left in the output folder: $left"
    done
    return 0
}

case $case in
wav_end_by_zero)
    make_image wav
    write_settings
    run_host --out out || fail "exit status $?"
    for n in 1 2 3 4; do
        check_track $n "out/$(ls out | grep "^0$n ")"
    done
    check_track 1 "out/01 First Light.flac"
    check_track 2 "out/02 Second_ A_B_.flac"
    no_leftovers
    expect_text "4 of 4 files ready"
    ;;
flac_end_by_boundary)
    # Pieces of three sectors: most tracks end inside a piece, and the last
    # piece of a track runs on into the next one.
    make_image flac
    write_settings
    run_host --out out --end-by boundary --piece-size 7056 || fail "exit status $?"
    check_track 1 "out/01 First Light.flac"
    check_track 2 "out/02 Second_ A_B_.flac"
    check_track 3 "out/03 Third.flac"
    check_track 4 "out/04 Fourth.flac"
    no_leftovers
    ;;
aiff_image)
    make_image aiff
    write_settings
    run_host --out out --piece-size 2352 || fail "exit status $?"
    check_track 1 "out/01 First Light.flac"
    check_track 2 "out/02 Second_ A_B_.flac"
    check_track 3 "out/03 Third.flac"
    check_track 4 "out/04 Fourth.flac"
    ;;
selected_tracks)
    # Track 2 is delivered as skipped: the module writes nothing for it, and
    # tracks 3 and 4 must still get their own audio.
    make_image flac
    write_settings
    run_host --out out --tracks 1,3-4 --end-by boundary || fail "exit status $?"
    check_track 1 "out/01 First Light.flac"
    check_track 3 "out/03 Third.flac"
    check_track 4 "out/04 Fourth.flac"
    [ "$(ls out | wc -l)" -eq 3 ] || fail "expected three files: $(ls out)"
    expect_text "delivered as skipped"
    no_leftovers
    ;;
name_pattern)
    make_image wav
    write_settings
    run_host --out out --tracks 2 --name "{performer} - {album} - {number} {title}" || fail "exit status $?"
    check_track 2 "out/Guest - Test Album - 02 Second_ A_B_.flac"
    metaflac --show-tag=TITLE "out/Guest - Test Album - 02 Second_ A_B_.flac" | grep -qxF "TITLE=Second: A/B?" ||
        fail "the title tag is not the cue sheet's title"
    ;;
dry_run)
    make_image wav
    write_settings
    run_host --out out --dry-run --tracks 2 || fail "exit status $?"
    [ -e out ] && fail "a dry run created the output folder"
    expect_text "program  /usr/bin/flac"
    expect_text "argument TITLE=Second: A/B?"
    expect_text "argument $work/out/#temp(02).flac"
    expect_text "argument $work/out/#temp(02).wav"
    grep -q "^track 01" out.txt && fail "a track that is not selected is shown"
    # The module keeps 253 characters of COMMAND; the host says so.
    long=$(printf '%0250d' 0)
    sed -i "s/^COMMAND=.*/COMMAND=-s -V $long -o %o% %i%/" encbridge.ini
    run_host --out out --dry-run --tracks 2 || fail "exit status $?"
    expect_text "warning: COMMAND in $work/encbridge.ini has 267 characters, but the module reads 253 and drops the rest: \"000 -o %o% %i%\""
    grep -qF -- "argument -o" out.txt && fail "the cut command line still shows -o"
    ;;
existing_file)
    make_image wav
    write_settings
    mkdir out
    echo old >"out/03 Third.flac"
    run_host --out out --tracks 3 && fail "an existing final file was accepted"
    expect_text "exists already"
    [ "$(cat "out/03 Third.flac")" = old ] || fail "the existing file was changed"
    run_host --out out --tracks 3 --overwrite || fail "--overwrite: exit status $?"
    check_track 3 "out/03 Third.flac"
    ;;
demo)
    # With no arguments the host makes its own album; a dumb terminal or none
    # gets plain lines.
    "$host" >out.txt 2>&1 || fail "exit status $?"
    expect_text "The demo album's flac files are in $work/encbridge-demo/"
    [ "$(ls encbridge-demo/*.flac | wc -l)" -eq 4 ] || fail "expected four FLAC files: $(ls encbridge-demo)"
    for file in encbridge-demo/*.flac; do
        flac -s -t "$file" || fail "$file does not decode"
    done
    metaflac --show-tag=TITLE "encbridge-demo/02 The _Quoted_ Tone.flac" | grep -qxF 'TITLE=The "Quoted" Tone' ||
        fail "the quoted title did not reach the encoder whole"
    metaflac --show-tag=TITLE encbridge-demo/03*.flac | grep -qxF "TITLE=Caf$(printf '\303\251') $(printf '\303\234')nic$(printf '\303\270')de Tone" ||
        fail "the non-ASCII title did not reach the encoder unchanged"
    # Run again into the same folder: the demo replaces its own files.
    "$host" >out.txt 2>&1 || fail "second run: exit status $?"
    ;;
bad_cue)
    write_settings
    expect_error "no cue sheet at missing.cue" missing.cue --settings encbridge.ini
    printf 'this is\nnot a cue sheet\n' >junk.cue
    expect_error "junk.cue is not a valid cue sheet" junk.cue --settings encbridge.ini
    printf 'TITLE "x"\n' >empty.cue
    expect_error "is not a valid cue sheet" empty.cue --settings encbridge.ini
    printf 'FILE "a.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE "b.wav" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n' >two.cue
    # Every file of the sheet is looked for; the message lists what was tried.
    expect_error "there is no image at a.wav, which two.cue names (tried a.wav, a.flac, a.aiff, a.aif, each also without regard to case)" two.cue --settings encbridge.ini
    # A data track is skipped, so the sheet goes on to look for its audio.
    printf 'FILE "a.wav" WAVE\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:10:00\n' >data.cue
    expect_error "there is no image at a.wav, which data.cue names" data.cue --settings encbridge.ini
    printf 'FILE "a.bin" BINARY\n  TRACK 01 MODE2/2324\n    INDEX 01 00:00:00\n' >data-only.cue
    expect_error "track 1 of data-only.cue is a data track, and no track of it holds CD audio" data-only.cue --settings encbridge.ini
    ;;
bad_image)
    make_image wav
    write_settings
    rm image.wav
    expect_error "there is no image at image.wav, which album.cue names" album.cue --settings encbridge.ini
    echo "not audio" >image.wav
    expect_error "cannot read the image" album.cue --settings encbridge.ini
    sox -n -r 48000 -c 2 -b 16 image.wav synth 10 sine 440 || fail "sox"
    expect_error "is not CD audio: 48000 Hz" album.cue --settings encbridge.ini
    sox -n -r 44100 -c 1 -b 16 image.wav synth 10 sine 440 || fail "sox"
    expect_error "is not CD audio: 44100 Hz, 1 channel(s)" album.cue --settings encbridge.ini
    sox -n -r 44100 -c 2 -b 24 image.wav synth 10 sine 440 || fail "sox"
    expect_error "is not CD audio" album.cue --settings encbridge.ini
    sox -n -r 44100 -c 2 -b 16 image.wav synth 7.2 sine 440 || fail "sox"
    expect_error "track 4 starts at 00:07:40, but the image ends at 00:07:15" album.cue --settings encbridge.ini
    ;;
bad_module)
    make_image wav
    write_settings
    expect_error "no module at $work/nothing.so" album.cue --settings encbridge.ini --plugin "$work/nothing.so"
    echo "not a library" >fake.so
    expect_error "the module fake.so does not load" album.cue --settings encbridge.ini --plugin fake.so
    expect_error "does not export Kill" album.cue --settings encbridge.ini --plugin "$partial"
    ;;
create_refused)
    make_image wav
    expect_error "the settings file $work/none.ini does not exist" album.cue --settings "$work/none.ini" --out out
    printf '[SETUP]\nOUT=.flac\n' >encbridge.ini
    expect_error "no encoder is configured" album.cue --settings encbridge.ini --out out
    expect_text "Create returned 0"
    write_settings DENY
    expect_error "no encoder is configured" album.cue --settings encbridge.ini --out out
    write_settings "$work/no-such-encoder"
    expect_error "the encoder is not found: nothing at EXEPATH=$work/no-such-encoder" album.cue --settings encbridge.ini --out out
    write_settings tools/enc
    expect_error "resolved to $work/tools/enc" album.cue --settings "$work/encbridge.ini" --out out
    mkdir tools && echo '#!/bin/sh' >tools/enc && chmod 644 tools/enc
    expect_error "may not be read and run" album.cue --settings "$work/encbridge.ini" --out out
    ;;
bad_options)
    make_image wav
    write_settings
    expect_error "not a positive multiple of 2352" album.cue --piece-size 1000
    expect_error "neither zero nor boundary" album.cue --end-by eof
    expect_error "--tracks names track 9, but album.cue has 4 track(s)" album.cue --settings encbridge.ini --tracks 1,9
    expect_error "the range \"4-2\" runs backwards" album.cue --tracks 4-2
    expect_error "\"{length}\" is not a field" album.cue --name "{number} {length}"
    expect_error "unknown option --fast" album.cue --fast
    run_host --out out --name "{album}" && fail "tracks with one name were accepted"
    expect_text "tracks 1 and 2 would both be named \"Test Album.flac\""
    "$host" --help >out.txt 2>&1 || fail "--help: exit status $?"
    expect_text "Usage: encbridge-host"
    ;;
*)
    fail "no such case"
    ;;
esac
echo "PASS ($case)"
