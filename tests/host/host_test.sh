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
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
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
JOBS=0
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

# expect_audio FILE PART...: FILE decodes to these parts one after the other:
# FIRST-END, sectors of image.raw (END "end": to its end), or zero:SECTORS,
# silence that no file holds.
expect_audio() {
    file=$1
    shift
    [ -f "$file" ] || fail "no file $file"
    : >expected.raw
    for part in "$@"; do
        case $part in
        zero:*) head -c $((${part#zero:} * 2352)) /dev/zero >>expected.raw ;;
        *-end) tail -c +$((${part%-end} * 2352 + 1)) image.raw >>expected.raw ;;
        *) tail -c +$((${part%-*} * 2352 + 1)) image.raw | head -c $(((${part#*-} - ${part%-*}) * 2352)) >>expected.raw ;;
        esac
    done
    rm -f decoded.raw
    flac -s -d --force-raw-format --endian=little --sign=signed -o decoded.raw "$file" || fail "$file does not decode"
    cmp -s decoded.raw expected.raw ||
        fail "$file: $(wc -c <decoded.raw) bytes decoded differ from the $(wc -c <expected.raw) expected ($*)"
}

# cut_file FIRST-END NAME: that part of image.raw (as expect_audio reads
# parts) as the audio file NAME.
cut_file() {
    case $1 in
    *-end) tail -c +$((${1%-end} * 2352 + 1)) image.raw >part.raw ;;
    *) tail -c +$((${1%-*} * 2352 + 1)) image.raw | head -c $(((${1#*-} - ${1%-*}) * 2352)) >part.raw ;;
    esac
    sox -t raw -r 44100 -c 2 -b 16 -e signed part.raw "$2" || fail "sox could not write $2"
}

# The four tracks of make_image, each in its range of the image.
expect_album_tracks() {
    expect_audio "out/01 First Light.flac" 0-225
    expect_audio "out/02 Second_ A_B_.flac" 225-483
    expect_audio "out/03 Third.flac" 483-565
    expect_audio "out/04 Fourth.flac" 565-end
}

# utf8_names: every name in out/ is valid UTF-8.
utf8_names() {
    ls out | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 || fail "a name in out/ is not UTF-8: $(ls out | od -c | head)"
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
    # Every encoder has ended and its output has its final name.
    expect_text "4 of 4 files ready, encoding 0"
    expect_text "progress \"encoding N\": the temporary outputs #temp(NN).flac written to in the last 2 s"
    ;;
flac_end_by_boundary)
    # Pieces of three sectors: most tracks end inside a piece, and the last
    # piece of a track runs on into the next one.
    make_image flac
    write_settings
    # A stream of unknown length: STREAMINFO gives 0 samples.
    printf '\360\0\0\0\0' | dd of=image.flac bs=1 seek=21 conv=notrunc 2>/dev/null
    [ "$(metaflac --show-total-samples image.flac)" = 0 ] || fail "the image's length is still known"
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
    expect_text "The module's rules are those of $(dirname "$host")/libencbridge.so (version 4)"
    grep -q "^track 01" out.txt && fail "a track that is not selected is shown"
    # A COMMAND of 267 characters, past what ffmpeg users reach, is read whole.
    long=$(printf '%0250d' 0)
    sed -i "s/^COMMAND=.*/COMMAND=-s -V $long -o %o% %i%/" encbridge.ini
    run_host --out out --dry-run --tracks 2 || fail "exit status $?"
    grep -qF -- "argument -o" out.txt || fail "the command line was cut before -o"
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
    # A file put at the final name during the rip is not this rip's.
    rm -rf out && mkdir out
    printf '#!/bin/sh\necho other >"%s/out/03 Third.flac"\nexec flac "$@"\n' "$work" >racing-enc
    printf '#!/bin/sh\nexit 1\n' >failing-step
    chmod 755 racing-enc failing-step
    write_settings "$work/racing-enc"
    run_host --out out --tracks 3
    status=$?
    [ "$status" -eq 3 ] || fail "exit status $status, not 3, with the final name taken"
    expect_text "not produced: the final name exists, #temp(03).wav is left"
    # A failing album step is shown, and a FIFO at LOG is never waited for.
    rm -rf out && mkdir out && mkfifo out/journal.fifo && write_settings
    printf 'ALBUM_EXEPATH=%s/failing-step\nALBUM_COMMAND=%%files%%\n' "$work" >>encbridge.ini
    run_host --out out --tracks 3
    status=$?
    [ "$status" -eq 3 ] || fail "exit status $status, not 3, for an album step not done"
    expect_text "album step of output 1 (.flac): not done: the encoder failed"
    expect_text "1 album step(s) were not done"
    echo LOG=journal.fifo >>encbridge.ini
    rm "out/03 Third.flac"
    timeout 60 "$host" album.cue --settings encbridge.ini --out out --tracks 3 >out.txt 2>&1
    status=$?
    [ "$status" -eq 124 ] && fail "the host waited for the FIFO at LOG"
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
per_track_files)
    # One file per track, as rippers save them. Gaps appended: a pregap
    # (INDEX 00) ends the file before its track. Gaps prepended: a file
    # starts with its track's pregap, so the track before runs on into it.
    make_image wav
    write_settings
    mkdir appended prepended
    cut_file 0-225 appended/01.wav
    cut_file 225-483 appended/02.wav
    cut_file 483-565 appended/03.flac
    cut_file 565-end appended/04.wav
    cut_file 0-150 prepended/01.wav
    cut_file 150-483 prepended/02.wav
    cut_file 483-525 prepended/03.wav
    cut_file 525-end prepended/04.aiff
    cat >appended/album.cue <<CUE
TITLE "Test Album"
FILE "01.wav" WAVE
  TRACK 01 AUDIO
    TITLE "First Light"
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    TITLE "Second: A/B?"
    INDEX 00 00:02:00
FILE "02.wav" WAVE
    INDEX 01 00:00:00
FILE "03.flac" WAVE
  TRACK 03 AUDIO
    TITLE "Third"
    INDEX 01 00:00:00
  TRACK 04 AUDIO
    TITLE "Fourth"
    INDEX 00 00:00:42
FILE "04.wav" WAVE
    INDEX 01 00:00:00
CUE
    cat >prepended/album.cue <<CUE
TITLE "Test Album"
FILE "01.wav" WAVE
  TRACK 01 AUDIO
    TITLE "First Light"
    INDEX 01 00:00:00
FILE "02.wav" WAVE
  TRACK 02 AUDIO
    TITLE "Second: A/B?"
    INDEX 00 00:00:00
    INDEX 01 00:01:00
FILE "03.wav" WAVE
  TRACK 03 AUDIO
    TITLE "Third"
    INDEX 01 00:00:00
FILE "04.aiff" AIFF
  TRACK 04 AUDIO
    TITLE "Fourth"
    INDEX 00 00:00:00
    INDEX 01 00:00:40
CUE
    for layout in appended prepended; do
        rm -rf out
        "$host" $layout/album.cue --settings encbridge.ini --out out --end-by boundary --piece-size 7056 >out.txt 2>&1 ||
            fail "$layout: exit status $?"
        expect_album_tracks
        no_leftovers
    done
    # Every file must be CD audio, not only the first.
    sox -n -r 48000 -c 2 -b 16 appended/04.wav synth 1 sine 440 || fail "sox"
    expect_error "the image appended/04.wav is not CD audio: 48000 Hz" appended/album.cue --settings encbridge.ini
    ;;
gaps)
    # Silence that no file holds: a POSTGAP comes after its track's audio,
    # before the next track's pregap; a PREGAP before its track's INDEX 01.
    # The other lines a ripper writes are read and let be, and a data track
    # at the end (an enhanced CD) ends the audio at its first index.
    make_image wav
    write_settings
    cat >album.cue <<CUE
REM GENRE Rock
REM DISCID 12345678
CATALOG 0123456789012
PERFORMER "Test Band"
TITLE "Test Album"
FILE "image.wav" WAVE
  TRACK 01 AUDIO
    TITLE "First Light"
    FLAGS DCP PRE
    ISRC ABCDE1234567
    POSTGAP 00:00:10
    INDEX 01 00:00:00
    INDEX 02 00:01:00
  TRACK 02 AUDIO
    TITLE "Second: A/B?"
    INDEX 00 00:02:00
    INDEX 01 00:03:00
  TRACK 03 AUDIO
    TITLE "Third"
    PREGAP 00:01:00
    INDEX 01 00:06:33
  TRACK 04 MODE1/2352
    PREGAP 00:02:00
    INDEX 01 00:07:40
CUE
    run_host --out out || fail "exit status $?"
    expect_audio "out/01 First Light.flac" 0-150 zero:10 150-225
    expect_audio "out/02 Second_ A_B_.flac" 225-483 zero:75
    expect_audio "out/03 Third.flac" 483-565
    [ "$(ls out | wc -l)" -eq 3 ] || fail "expected three files: $(ls out)"
    ;;
cp1252)
    # A sheet in the Windows code page: names and tags come out in UTF-8.
    make_image wav
    write_settings
    sed 's/"Third"/"Caf\xe9 \x93Zwei\x94 \x80"/' album.cue >windows.cue
    "$host" windows.cue --settings encbridge.ini --out out --tracks 3 >out.txt 2>&1 || fail "exit status $?"
    expect_text "Note: windows.cue is not UTF-8; read as cp1252 (Windows Western); --cue-charset names another"
    title=$(printf 'Caf\303\251 \342\200\234Zwei\342\200\235 \342\202\254')
    expect_audio "out/03 $title.flac" 483-565
    utf8_names
    metaflac --show-tag=TITLE "out/03 $title.flac" | grep -qxF "TITLE=$title" || fail "the title tag is not UTF-8"
    # UTF-8 with a byte order mark is UTF-8, without a word.
    rm -rf out
    { printf '\357\273\277'; sed 's/"Third"/"Caf\xc3\xa9"/' album.cue; } >bom.cue
    "$host" bom.cue --settings encbridge.ini --out out --tracks 3 >out.txt 2>&1 || fail "bom: exit status $?"
    grep -q "cp1252" out.txt && fail "a UTF-8 sheet was read as cp1252"
    expect_audio "out/03 $(printf 'Caf\303\251').flac" 483-565
    ;;
first_pregap)
    # Track 1 starts at 00:01:00 after an INDEX 00: noise before it is a
    # hidden track, digital silence is dropped, each with a notice.
    make_image wav
    write_settings
    sed 's/    INDEX 01 00:00:00/    INDEX 00 00:00:00\n    INDEX 01 00:01:00/' album.cue >hidden.cue
    "$host" hidden.cue --settings encbridge.ini --out out >out.txt 2>&1 || fail "exit status $?"
    expect_text "Note: 1.00 s of audio before track 1 is written as track 0, \"Hidden track\""
    expect_audio "out/00 Hidden track.flac" 0-75
    expect_audio "out/01 First Light.flac" 75-225
    expect_audio "out/04 Fourth.flac" 565-end
    [ "$(ls out | wc -l)" -eq 5 ] || fail "expected five files: $(ls out)"
    metaflac --show-tag=TITLE "out/00 Hidden track.flac" | grep -qxF "TITLE=Hidden track" || fail "hidden track title"
    # A sheet can name it; join and drop.
    rm -rf out
    sed 's/^TITLE "Test Album"/&\nREM HIDDEN_TITLE "Before"/' hidden.cue >named.cue
    "$host" named.cue --settings encbridge.ini --out out --tracks 1 >out.txt 2>&1 || fail "named: exit status $?"
    [ "$(ls out)" = "01 First Light.flac" ] || fail "--tracks 1 wrote: $(ls out)"
    expect_text "00  00 Before.flac"
    rm -rf out
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap=join --tracks 1 >out.txt 2>&1 || fail "join: exit status $?"
    expect_text "Note: 1.00 s of audio before track 1 is joined to it (--first-pregap=join)"
    expect_audio "out/01 First Light.flac" 0-225
    rm -rf out
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap drop >out.txt 2>&1 || fail "drop: exit status $?"
    expect_text "Note: 1.00 s of audio before track 1 is dropped (--first-pregap=drop)"
    expect_audio "out/01 First Light.flac" 75-225
    [ -e "out/00 Hidden track.flac" ] && fail "drop wrote track 0"
    # Digital silence: dropped by default, written when asked for.
    { head -c $((75 * 2352)) /dev/zero; tail -c +$((75 * 2352 + 1)) image.raw; } >silent.raw
    mv silent.raw image.raw
    sox -t raw -r 44100 -c 2 -b 16 -e signed image.raw image.wav || fail "sox"
    rm -rf out
    "$host" hidden.cue --settings encbridge.ini --out out >out.txt 2>&1 || fail "silent: exit status $?"
    expect_text "Note: 1.00 s of digital silence before track 1 is dropped; --first-pregap=track or join keeps it"
    [ "$(ls out | wc -l)" -eq 4 ] || fail "expected four files: $(ls out)"
    expect_audio "out/01 First Light.flac" 75-225
    rm -rf out
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap track --tracks 2 >out.txt 2>&1 ||
        fail "track: exit status $?"
    expect_text "Note: 1.00 s of digital silence before track 1 is written as track 0"
    expect_audio "out/02 Second_ A_B_.flac" 225-483
    # The module numbers what it is handed from 1: the host says so when the
    # command line uses its numbers.
    sed -i 's/^COMMAND=/COMMAND=-T TRACKNUMBER=%no /' encbridge.ini
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap track --dry-run --tracks 1 >out.txt 2>&1 ||
        fail "dry run: exit status $?"
    expect_text "warning: with track 0 delivered, the module's %no and %trk tags count it: track 1 gets %no 2"
    expect_text "argument TRACKNUMBER=2"
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap join --dry-run --tracks 1 >out.txt 2>&1 ||
        fail "dry run, join: exit status $?"
    grep -q "warning" out.txt && fail "a warning without a track 0"
    expect_text "argument TRACKNUMBER=1"
    ;;
windows_paths)
    # A sheet written on Windows: backslashes, a folder, names in another
    # case, a drive, and an image since converted to FLAC.
    make_image wav
    write_settings
    mkdir -p "Test Band - Test Album" out
    cut_file 0-225 "Test Band - Test Album/01 - first light.WAV"
    cut_file 225-483 "Test Band - Test Album/02 - Second.wav"
    cut_file 483-565 "03 - Third.wav"
    cut_file 565-end "04 - Fourth.flac"
    cat >album.cue <<CUE
TITLE "Test Album"
FILE "Test Band - Test Album\01 - First Light.wav" WAVE
  TRACK 01 AUDIO
    TITLE "First Light"
    INDEX 01 00:00:00
FILE "TEST BAND - test album\02 - Second.wav" WAVE
  TRACK 02 AUDIO
    TITLE "Second: A/B?"
    INDEX 01 00:00:00
FILE "C:\Rips\Test Band - Test Album\03 - Third.wav" WAVE
  TRACK 03 AUDIO
    TITLE "Third"
    INDEX 01 00:00:00
FILE "Test Band - Test Album\04 - Fourth.wav" WAVE
  TRACK 04 AUDIO
    TITLE "Fourth"
    INDEX 01 00:00:00
CUE
    run_host --out out || fail "exit status $?"
    expect_text "Note: album.cue names Test Band - Test Album\\01 - First Light.wav; using Test Band - Test Album/01 - first light.WAV"
    expect_text "using 03 - Third.wav"
    expect_text "using 04 - Fourth.flac"
    expect_album_tracks
    ;;
embedded_cue)
    # The image is named in place of a cue sheet: its CUESHEET block gives
    # the positions, a CUESHEET tag the titles too.
    make_image wav
    write_settings
    grep -v "^REM" album.cue >plain.cue
    flac -s --cuesheet=plain.cue -T "ALBUM=Block Album" -o image.flac image.wav || fail "flac could not embed the cue sheet"
    "$host" image.flac --settings encbridge.ini --out out >out.txt 2>&1 || fail "block: exit status $?"
    expect_audio "out/01 Track 1.flac" 0-225
    expect_audio "out/02 Track 2.flac" 225-483
    expect_audio "out/04 Track 4.flac" 565-end
    expect_audio "out/03 Track 3.flac" 483-565
    expect_text "Ripping 4 of 4 tracks of \"Block Album\" from image.flac"
    rm -rf out
    metaflac --set-tag-from-file=CUESHEET=album.cue image.flac || fail "metaflac could not add the tag"
    "$host" image.flac --settings encbridge.ini --out out >out.txt 2>&1 || fail "tag: exit status $?"
    expect_album_tracks
    # Behind an ID3 tag (ten bytes of header, five of padding).
    { printf 'ID3\004\000\000\000\000\000\005\000\000\000\000\000'; cat image.flac; } >id3.flac
    "$host" id3.flac --settings encbridge.ini --out out --dry-run --tracks 2 >out.txt 2>&1 || fail "id3: exit status $?"
    expect_text "track 02 -> $work/out/02 Second_ A_B_.flac"
    metaflac --remove --block-type=CUESHEET image.flac && metaflac --remove-tag=CUESHEET image.flac || fail "metaflac"
    expect_error "image.flac is a FLAC file with no cue sheet inside" image.flac --settings encbridge.ini
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
    # A FIFO is refused at once, never waited for.
    mkfifo fifo.cue
    timeout 10 "$host" fifo.cue --settings encbridge.ini >out.txt 2>&1
    [ $? -eq 1 ] || fail "a FIFO for a cue sheet: exit status other than 1"
    expect_text "fifo.cue is not a regular file"
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
    # An image cut short in track 4: the tracks delivered before are still
    # encoded by a slow encoder, and track 4's WAV stays.
    make_image flac
    head -c $(($(wc -c <image.flac) * 9 / 10)) image.flac >cut.flac && mv cut.flac image.flac
    printf '#!/bin/sh\nsleep 1\nexec flac "$@"\n' >slow-enc && chmod 755 slow-enc
    write_settings "$work/slow-enc"
    run_host --out out && fail "exit status 0 for an image cut short"
    expect_text "the image could not be read at track 4"
    check_track 1 "out/01 First Light.flac"
    check_track 2 "out/02 Second_ A_B_.flac"
    check_track 3 "out/03 Third.flac"
    expect_text "04 Fourth.flac"
    [ -f "out/#temp(04).wav" ] || fail "track 4's WAV is gone"
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
    # The module's own reason, from its journal: outputs that would write one file.
    write_settings
    printf '[OUTPUT2]\nOUT=.FLAC\nEXEPATH=/usr/bin/flac\n' >>encbridge.ini
    expect_error "two outputs share an extension, so their encoders would write one file (output 2, [OUTPUT2]" \
        album.cue --settings encbridge.ini --out out --verbose
    expect_text "journal: Create refused the rip: two outputs share an extension"
    [ -z "$(ls out)" ] || fail "a refused rip left files: $(ls out)"
    # A folder where no file can be made has a reason of its own, and advice
    # that fits it (root is held to it in a mount namespace of its own).
    write_settings
    mkdir ro && chmod 555 ro
    readonly_run="exec"
    [ "$(id -u)" -eq 0 ] && readonly_run="mount --bind ro ro && mount -o remount,ro,bind ro && exec"
    unshare -m sh -c "$readonly_run \"\$@\"" - "$host" album.cue --settings encbridge.ini --out ro >out.txt 2>&1 &&
        fail "exit status 0 for a read-only folder"
    expect_text "no file can be made in the output folder (read-only, or not this user's to write) ($work/ro/)"
    expect_text "give this user write permission, or choose another --out"
    ;;
two_outputs)
    # One rip to FLAC and Opus at once, with album ReplayGain as the FLAC
    # output's album step; then one that fails the Opus encoder for track 2.
    make_image wav
    cat >opus-wrap <<'SH'
#!/bin/sh
case "$*" in *"#temp(02)"*) [ -f "$FAIL_TRACK_2" ] && exit 1 ;; esac
exec opusenc "$@"
SH
    printf '#!/bin/sh\necho "$@" >"%s/opus-step.txt"\n' "$work" >opus-step
    chmod 755 opus-wrap opus-step
    # The README's example, with a wrapper in front of opusenc and an album
    # step that says whether it ran.
    sed "s|^EXEPATH=/usr/bin/opusenc\$|EXEPATH=opus-wrap|" "$examples/linux/flac-opus.ini" >encbridge.ini
    grep -qx "EXEPATH=opus-wrap" encbridge.ini || fail "the example names no /usr/bin/opusenc"
    echo "ALBUM_EXEPATH=opus-step" >>encbridge.ini
    run_host --out out --dry-run || fail "dry run: exit status $?"
    expect_text "album step of output 1, once every track has its .flac file"
    expect_text "argument $work/out/04 Fourth.flac"
    expect_text "track 03 -> $work/out/03 Third.opus"
    run_host --out out || fail "exit status $?"
    expect_album_tracks
    for n in 1 2 3 4; do
        file=$(ls out/0$n\ *.opus) || fail "track $n has no Opus file"
        opusdec --quiet "$file" decoded.wav 2>/dev/null || fail "$file does not decode"
        file=$(ls out/0$n\ *.flac)
        metaflac --show-tag=REPLAYGAIN_ALBUM_GAIN "$file" | grep -q "^REPLAYGAIN_ALBUM_GAIN=" ||
            fail "$file has no album gain"
    done
    no_leftovers
    [ -f opus-step.txt ] || fail "the Opus output's album step did not run"
    expect_text "03 Third.opus"
    expect_text "8 of 8 files ready"

    touch fail-track-2
    rm -rf out opus-step.txt
    FAIL_TRACK_2=$work/fail-track-2 run_host --out out --verbose
    status=$?
    [ "$status" -eq 3 ] || fail "exit status $status, not 3, for a rip with a track not produced"
    expect_text "02 Second_ A_B_.opus"
    expect_text "not produced: the encoder failed, #temp(02).wav is left"
    expect_text "1 of 4 track(s) were not produced"
    # --verbose: the module's records as they come.
    expect_text "journal: track 2, output 2: WAV kept: the encoder failed (exit 1"
    expect_text "journal: album step of output 1: album step done (exit 0"
    expect_text "journal: album step of output 2: album step not done: a track of this output was not produced"
    expect_text "journal: 3 of 4 tracks done, 1 WAV files kept"
    [ -f "out/#temp(02).wav" ] || fail "track 2's WAV is gone"
    expect_album_tracks
    [ -e "out/02 Second_ A_B_.opus" ] && fail "track 2 has an Opus file"
    [ -f "out/03 Third.opus" ] || fail "track 3 lost its Opus file"
    metaflac --show-tag=REPLAYGAIN_ALBUM_GAIN "out/01 First Light.flac" | grep -q "^REPLAYGAIN_ALBUM_GAIN=" ||
        fail "the FLAC output's album step did not run"
    [ -e opus-step.txt ] && fail "the failing output's album step ran"
    [ -e "out/#temp(01).wav" ] && fail "track 1's WAV stayed"
    ;;
bad_options)
    make_image wav
    write_settings
    expect_error "not a positive multiple of 2352" album.cue --piece-size 1000
    expect_error "neither zero nor boundary" album.cue --end-by eof
    expect_error "--tracks names track 9, but album.cue has 4 track(s)" album.cue --settings encbridge.ini --tracks 1,9
    expect_error "the range \"4-2\" runs backwards" album.cue --tracks 4-2
    expect_error "\"{length}\" is not a field" album.cue --name "{number} {length}"
    expect_error "encbridge-host: unrecognized option '--fast'" album.cue --fast
    "$host" album.cue --fast >out.txt 2>&1
    [ $? -eq 2 ] || fail "an unknown option: exit status other than 2"
    expect_text "Try 'encbridge-host --help' for more information."
    run_host --out out --name "{album}" && fail "tracks with one name were accepted"
    expect_text "tracks 1 and 2 would both be named \"Test Album.flac\""
    "$host" --help >out.txt 2>&1 || fail "--help: exit status $?"
    expect_text "Usage: encbridge-host"
    "$host" --version >out.txt 2>&1 || fail "--version: exit status $?"
    grep -qx "encbridge-host (encbridge) [0-9][0-9.]*" out.txt || fail "--version does not name the version"
    ;;
*)
    fail "no such case"
    ;;
esac
echo "PASS ($case)"
