#!/bin/sh
# End-to-end tests of encbridge-host with the real flac encoder: a generated
# CD image and cue sheet with INDEX 00 pregaps go through the built module,
# and every encoded track, decoded again, must equal its range of the image
# byte for byte. Also the errors a user meets, each with its message.
#
# Usage: host_test.sh HOST PARTIAL_MODULE CASE SLOW_IMAGE
set -u
host=$1
partial=$2
case=$3
slow_image=${4:-}
examples=$(cd "$(dirname "$0")/../../examples" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/encbridge-host-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# A host killed on purpose cannot remove its own temporary folder: keep them
# all inside the case's folder.
mkdir tmp && TMPDIR=$work/tmp && export TMPDIR

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
    wv | tta | m4a | mp3)
        # WavPack's own encoder; ffmpeg's for the others (ALAC in .m4a).
        audio=image.$1
        if [ "$1" = wv ]; then wavpack -q image.wav -o image.wv; else
            ffmpeg -v error -i image.wav -b:a 320k -c:a "$(echo "$1" | sed 's/m4a/alac/;s/mp3/libmp3lame/')" "$audio"
        fi || fail "could not write $audio"
        rm image.wav
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

# stopped SIGNALS TEXT STATUS [ENV ARGUMENTS...]: the host, in a process
# group of its own with the stop signals at their defaults (then ENV
# ARGUMENTS), gets each of SIGNALS (sent to the group, 0.15 s apart) 0.3 s
# after out.txt shows TEXT (or, with $stop_when set, once that shell
# condition holds too), and must end with STATUS (a hang meets the test's time-out). After
# one signal: the summary, no lock and no partial output.
stopped() {
    signals=$1 text=$2 want=$3
    shift 3
    setsid env --default-signal=INT,TERM,HUP "$@" "$host" album.cue --settings "$work/encbridge.ini" --out out \
        --piece-size 2352 >out.txt 2>&1 &
    pid=$!
    timeout 30 sh -c "until grep -qF -- '$text' out.txt; do sleep 0.05; done" || fail "never saw: $text"
    if [ -n "${stop_when:-}" ]; then
        timeout 60 sh -c "until $stop_when; do sleep 0.02; done" || fail "never came to pass: $stop_when"
    else
        sleep 0.3
    fi
    for each in $signals; do kill -$each -$pid && sleep 0.15; done
    wait $pid
    status=$?
    [ $status -eq "$want" ] || fail "$signals after \"$text\": exit status $status, not $want"
    [ "$signals" = "${signals% *}" ] || return 0
    expect_text "Files in $work/out/:"
    ls out | grep -q '^#ripping.lock$\|^#temp(..)\.flac' && fail "the lock or a partial output is left: $(ls out)"
    return 0
}

# resume_host ARGS...: run_host --resume. A host ended outright leaves no
# lock behind: its encoders' launchers hold none of its descriptors.
resume_host() {
    run_host --resume "$@"
}

# listed: every file of the module's left in out/ is listed by the summary.
listed() {
    grep "^Left" out.txt >listed.txt
    ls out | grep '^#' | while read -r left; do grep -qF -- "$left" listed.txt || echo "$left"; done | grep . &&
        fail "left, but not listed"
    return 0
}

# resumed: --resume finishes the album without encoding a published track
# again, and lists every file of an earlier rip that it leaves.
resumed() {
    ls -i out/*.flac >published.txt 2>/dev/null
    resume_host --out out || fail "--resume: exit status $?"
    expect_album_tracks
    ls -i out/*.flac | grep -vxFf - published.txt && fail "encoded again"
    expect_text "Resumed: $(grep -c . published.txt) track(s)"
    listed
}

case $case in
failed_alike)
    # Settings whose encoder rejects its command: the shelf stops after the
    # first album, whose every track failed alike; --keep-going rips on. A
    # rip without --resume names the files an earlier rip left.
    make_image wav
    write_settings
    mkdir -p shelf/a shelf/b shelf/c
    for each in a b c; do sed "s/^TITLE .*/TITLE \"$each\"/" album.cue >shelf/$each/album.cue; cp image.wav shelf/$each/; done
    sed -i 's/^COMMAND=/COMMAND=--no-such-option /' encbridge.ini
    "$host" shelf/a shelf/b shelf/c --settings encbridge.ini --out 'out/{album}' >out.txt 2>&1
    [ $? -eq 1 ] || fail "a shelf stopped by its settings: exit status not 1"
    expect_text "The shelf stops: every track of shelf/a/album.cue failed for one reason, the encoder failed"
    expect_text "2 not started"
    "$host" shelf/a shelf/b shelf/c --settings encbridge.ini --out 'out/{album}' --keep-going >out.txt 2>&1
    [ -e out/c ] || fail "--keep-going did not rip album c"
    write_settings
    run_host --out out/a || fail "a rip over an earlier one's files: exit status $?"
    # Album a was ripped twice: its WAV files of both rips stay, named.
    expect_text "Kept 8 file(s) (3.6 MiB) in $work/out/a/, of an earlier rip that this one did not pick up: #kept(01)-1.wav,"
    ;;
resume_checks)
    # --resume takes a file at a final name only when it is the track's own:
    # a FLAC cut short and another track's file, each refused by the verify
    # line, are moved aside, kept, and their tracks ripped again.
    make_image wav
    write_settings
    printf 'VERIFY=exact\nVERIFY_EXEPATH=/usr/bin/flac\nVERIFY_COMMAND=-d -c -s %%o%%\n' >>encbridge.ini
    run_host --out out || fail "a whole rip: exit status $?"
    head -c 4000 "out/03 Third.flac" >cut.flac && mv cut.flac "out/03 Third.flac"
    cp "out/01 First Light.flac" "out/04 Fourth.flac"
    resume_host --out out || fail "--resume: exit status $?"
    expect_album_tracks
    expect_text "Resumed: 2 track(s)"
    expect_text "Ripped again: 03 Third, whose files there were moved aside as not this track's (.flac: its verify line"
    [ "$(wc -c <"out/#kept(03)-1.flac")" -eq 4000 ] || fail "the cut FLAC was not kept: $(ls out)"
    listed
    ;;
stop_delivering)
    # Each image read slowed down: the signal comes while track 2 is
    # delivered. A closed pipe costs nothing.
    make_image wav
    write_settings
    # Track 2's WAV, cut short, is no copy of anything: it stays.
    kept="1 of 4 track(s) produced. WAV files kept in $work/out/: #temp(02).wav."
    for row in "INT 130 Stopped by SIGINT: $kept" "TERM 143 Stopped by SIGTERM: $kept" "PIPE 0 4 of 4 files ready"; do
        rm -rf out
        # Once track 1 is published and its WAV gone, however long its encoder took.
        track_1_done='[ -e "out/01 First Light.flac" ] && [ ! -e "out/#temp(01).wav" ]'
        stop_when=$track_1_done stopped "${row%% *}" "track 01/04" "$(echo "$row" | cut -d' ' -f2)" \
            LD_PRELOAD="$slow_image" ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"
        expect_text "${row#* * }"
        resumed
        [ "${row%% *}" = PIPE ] || expect_text "Left 1 file(s) of an earlier rip that are no copy of this rip's files, in $work/out/: #kept(02)-1.wav"
    done
    rm -rf out
    { LD_PRELOAD="$slow_image" ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" "$host" album.cue --settings encbridge.ini \
        --out out --piece-size 2352 2>&1; echo $? >status.txt; } | head -c 1 >/dev/null
    [ "$(cat status.txt)" -eq 0 ] || fail "a closed pipe: exit status $(cat status.txt)"
    expect_album_tracks
    ;;
stop_waiting)
    # Slow encoders: the signal comes while the album's last call waits.
    make_image wav
    printf '#!/bin/sh\nsleep 1\nexec flac "$@"\n' >slow-enc && chmod 755 slow-enc
    for row in "INT 130 Stopped by SIGINT: 0 of 4" "TERM 143 Stopped by SIGTERM: 0 of 4" \
        "HUP 129 Stopped by SIGHUP: 0 of 4" "PIPE 0 4 of 4 files ready"; do
        rm -rf out
        write_settings "$work/slow-enc"
        stopped "${row%% *}" "track 04/04" "$(echo "$row" | cut -d' ' -f2)"
        expect_text "${row#* * }"
        # A kept WAV file with a byte more than the track's is no copy: it
        # stays; the others are copies of this rip's.
        [ "${row%% *}" = HUP ] && printf x >>"out/#temp(03).wav"
        write_settings
        resumed
        [ "$(ls out | grep '^#')" = "$([ "${row%% *}" = HUP ] && echo "#kept(03)-1.wav")" ] || fail "$row: left: $(ls out)"
    done
    # A kept WAV file of the track's length whose audio differs only near
    # its end is no copy either.
    rm -rf out
    write_settings "$work/slow-enc"
    stopped INT "track 04/04" 130
    at=$(($(wc -c <"out/#temp(03).wav") - 100))
    byte=$(od -An -tu1 -j $at -N 1 "out/#temp(03).wav")
    printf "\\$(printf %o $(((byte + 1) % 256)))" | dd of="out/#temp(03).wav" bs=1 seek=$at conv=notrunc 2>/dev/null
    write_settings
    resumed
    [ "$(ls out | grep '^#')" = "#kept(03)-1.wav" ] || fail "a WAV file that differs near its end: left: $(ls out)"
    ;;
second_stop)
    # The encoders outlast SIGTERM, so the orderly stop takes its 300 ms;
    # a second SIGINT meanwhile ends the host at once.
    make_image wav
    printf '#!/bin/sh\ntrap "" TERM\nsleep 3\nexec flac "$@"\n' >stubborn-enc && chmod 755 stubborn-enc
    write_settings "$work/stubborn-enc"
    stopped "INT INT" "track 04/04" 130
    expect_text "stopped at once"
    grep -q "Stopped by" out.txt && fail "the second SIGINT waited for the summary"
    write_settings
    resumed
    # A SIGINT ignored from the start (nohup, a background job) stays ignored.
    rm -rf out
    write_settings "$work/stubborn-enc"
    stopped INT "track 04/04" 0 --ignore-signal=INT
    expect_album_tracks
    ;;
crash_campaign)
    # SIGKILL at 20 random moments of a rip into two outputs, each followed
    # by --resume: every track published, nothing lost, every leftover
    # removed or listed.
    make_image wav
    write_settings
    # The second output's encoder lags, so that the outputs of a track are
    # published at different moments; the moments span one whole rip.
    printf '#!/bin/sh\nsleep 0.1\nexec flac "$@"\n' >lagging-enc && chmod 755 lagging-enc
    printf '[OUTPUT2]\nOUT=.fla\nEXEPATH=%s/lagging-enc\nCOMMAND=-s -f -o %%o%% %%i%%\n' "$work" >>encbridge.ini
    start=$(date +%s%N)
    run_host --out out || fail "a whole rip: exit status $?"
    span=$((($(date +%s%N) - start) / 1000000))
    # A track with one output of two: ripped again, and the output that was
    # there, moved aside, goes as a copy of the new one.
    rm "out/03 Third.fla"
    resume_host --out out || fail "one output missing: exit status $?"
    expect_text "Removed 1 file(s) of the earlier rip, each a copy of what this rip delivered or produced: #kept(03)-1.flac"
    check_track 3 "out/03 Third.fla"
    # Only a plain file is a track done: a link at a final name is ripped
    # again. A leftover of a final file's length but other bytes is no copy.
    ln -sf "01 First Light.flac" "out/02 Second_ A_B_.flac"
    cp "out/03 Third.flac" "out/#kept(03)-1.flac"
    byte=$(od -An -tu1 -j 5000 -N 1 "out/#kept(03)-1.flac")
    printf "\\$(printf %o $(((byte + 1) % 256)))" | dd of="out/#kept(03)-1.flac" bs=1 seek=5000 conv=notrunc 2>/dev/null
    resume_host --out out || fail "a link and a changed leftover: exit status $?"
    [ -L "out/02 Second_ A_B_.flac" ] && fail "a link counted as a track done"
    expect_album_tracks
    [ -f "out/#kept(03)-1.flac" ] || fail "a leftover with other bytes than the final file's was removed"
    listed
    # WAV files that the settings keep are the user's: --resume leaves them.
    rm -rf out
    sed 's/^DELETE=1/DELETE=0/' encbridge.ini >keep.ini
    "$host" album.cue --settings keep.ini --out out >out.txt 2>&1 || fail "DELETE=0: exit status $?"
    ls out >before.txt
    grep -qxF '#temp(01).wav' before.txt || fail "DELETE=0 kept no WAV file: $(cat before.txt)"
    "$host" album.cue --settings keep.ini --out out --resume >out.txt 2>&1 || fail "DELETE=0, --resume: exit status $?"
    ls out | cmp -s - before.txt || fail "--resume with DELETE=0 changed the folder: $(ls out)"
    for round in $(seq 20); do
        moment=$(($(od -An -N2 -tu2 /dev/urandom) % span))
        rm -rf out
        "$host" album.cue --settings encbridge.ini --out out >out.txt 2>&1 &
        pid=$!
        sleep "$((moment / 1000)).$(printf %03d $((moment % 1000)))"
        kill -KILL $pid 2>/dev/null
        wait $pid
        # A child that the host was starting holds no lock once it runs its
        # program or is gone, however long that takes on a busy machine.
        lock="$(pwd -P)/out/#ripping.lock"
        timeout 60 sh -c 'while find /proc/[0-9]*/fd -lname "$1" 2>/dev/null | grep -q .; do sleep 0.05; done' - \
            "$lock" || fail "round $round: $lock is still held open: $(find /proc/[0-9]*/fd -lname "$lock" 2>/dev/null)"
        resume_host --out out || fail "round $round, killed after $moment ms: --resume: exit status $?"
        expect_album_tracks
        for n in 1 2 3 4; do check_track $n "$(ls out/0$n\ *.fla)"; done
        listed
    done
    ;;
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
    expect_text "progress \"encoding N\": the encoders at work, as the journal says"
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
wv_image | tta_image | m4a_image)
    # Read by position: --resume's checks read the tracks, then track 1,
    # whose file is not its own, from before where they ended.
    make_image "${case%_image}"
    write_settings
    printf 'VERIFY=exact\nVERIFY_EXEPATH=/usr/bin/flac\nVERIFY_COMMAND=-d -c -s %%o%%\n' >>encbridge.ini
    run_host --out out || fail "exit status $?"
    expect_album_tracks
    cp "out/03 Third.flac" "out/01 First Light.flac"
    resume_host --out out || fail "--resume: exit status $?"
    expect_text "Ripped again: 01 First Light"
    expect_album_tracks
    ;;
mp3_image)
    # The decoder's delay and padding go as the library reports them: the
    # tracks are the decoded image cut at the sheet's times, as long as the
    # source, and close to it.
    make_image mp3
    write_settings
    run_host --out out --piece-size 2352 || fail "exit status $?"
    mv image.raw source.raw
    ffmpeg -v error -i image.mp3 -f s16le image.raw || fail "ffmpeg could not decode image.mp3"
    [ "$(wc -c <image.raw)" -eq $((image_frames * 4)) ] || fail "the MP3 decodes to $(wc -c <image.raw) bytes"
    expect_album_tracks
    raw="-t raw -r 44100 -c 2 -b 16 -e signed"
    rms() { sox "$@" -n stat 2>&1 | sed -n 's/^RMS *amplitude: *//p'; }
    apart=$(rms -m -v 1 $raw source.raw -v -1 $raw image.raw) whole=$(rms $raw source.raw)
    awk -v d="$apart" -v s="$whole" 'BEGIN { exit !(d < 0.6 * s) }' ||
        fail "the MP3's audio is not close to the source's: the difference's RMS is $apart, the source's $whole"
    ;;
bad_decoded_image)
    # Images for the other decoder that it refuses, each naming the file.
    make_image wav
    write_settings
    sox -n -r 44100 -c 2 -b 24 b24.wav synth 9 sine 440 && wavpack -q b24.wav -o b24.wv &&
        ffmpeg -v error -i b24.wav -c:a aac aac.m4a && wavpack -q image.wav -o whole.wv || fail "could not make the images"
    head -c 900000 whole.wv >cut.wv && : >empty.wv && mkfifo fifo.wv
    printf 'ID3\4\0\0\177\177\177\177' >tag.mp3 && cat image.wav >>tag.mp3
    printf '#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nfile://%s/image.wav\n' "$work" >list.mp3
    while IFS='|' read -r image text; do
        sed "s/image.wav/$image/" album.cue >one.cue
        expect_error "$text" one.cue --settings encbridge.ini --out out
    done <<ROWS
b24.wv|the image b24.wv is not CD audio: 44100 Hz, 2 channel(s), 24 bit WavPack; CD audio is 44,100 Hz
aac.m4a|cannot read the image aac.m4a: it holds aac audio; the host reads WAV, AIFF, FLAC, WavPack, APE, TTA, ALAC (.m4a) or MP3 images
empty.wv|cannot read the image empty.wv: Invalid data found
cut.wv|the image could not be read at track 2: cut.wv could not be read beyond 00:05:
fifo.wv|there is no image at fifo.wv
tag.mp3|cannot read the image tag.mp3:
list.mp3|cannot read the image list.mp3: it is in a format the host does not read
ROWS
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
    # Folders from the pattern, and the fields of REM lines; the "/" of a
    # value stays in its name.
    sed -e 's/^REM DATE 1999/REM DATE 1999\nREM GENRE "Post\/Rock"\nREM DISCNUMBER 2/' \
        -e 's/Test Band/AC\/DC/' album.cue >folders.cue
    "$host" folders.cue --settings encbridge.ini --out out --tracks 2 \
        --name "{albumartist}/{date} {album}/{disc}-{number} {genre} {title}" >out.txt 2>&1 || fail "folders: exit status $?"
    check_track 2 "out/AC_DC/1999 Test Album/2-02 Post_Rock Second_ A_B_.flac"
    ;;
durable_trace)
    # For every WAV file that the module deletes, under strace: its output
    # synced, then moved to its final name, then each folder from the final
    # file's up to out/ synced, all before the unlink.
    command -v strace >/dev/null 2>&1 || { echo "SKIP ($case): no strace"; exit 77; }
    # LeakSanitizer cannot look at a traced process; the other builds find leaks.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    make_image wav
    write_settings
    out=$(pwd -P)/out
    strace -f -y -qq -e signal=none -o trace.txt -e trace=fsync,unlink,unlinkat,rename,renameat,renameat2,link,linkat \
        "$host" album.cue --settings encbridge.ini --out "$out" --name "{albumartist}/{album}/{number} {title}" \
        >out.txt 2>&1 || fail "exit status $?"
    check_track 3 "out/Test Band/Test Album/03 Third.flac"
    awk -v out="$out" '
        / <unfinished \.\.\.>$/ { sub(/ <unfinished \.\.\.>$/, ""); pending[$1] = $0; next }
        sub(/^[0-9]+ +<\.\.\. [a-z0-9]+ resumed>/, "") { $0 = pending[$1] $0 }
        !/= 0$/ { next }
        { ++at; split($0, part, "\"") }
        / f?sync\(/ && match($0, /<[^>]*>/) { synced[substr($0, RSTART + 1, RLENGTH - 2), at] = 1 }
        / (rename|link)/ { to[part[2]] = part[4]; moved[part[2]] = at }
        / unlink/ && part[2] ~ /#temp\([0-9]+\)\.wav$/ {
            ++gone; flac = part[2]; sub(/wav$/, "flac", flac); m = moved[flac]
            if (!m || !between(flac, 0, m)) print part[2] ": its output was not synced, then moved"
            for (d = to[flac]; m && d != out && sub(/\/[^\/]*$/, "", d); )
                if (!between(d, m, at)) print d ": not synced between the move of " to[flac] " and the unlink"
        }
        function between(path, low, high,   i) { for (i = low + 1; i < high; ++i) if ((path, i) in synced) return 1 }
        END { if (gone != 4) print gone " WAV files deleted, not 4" }' trace.txt >why.txt
    [ -s why.txt ] && fail "$(cat why.txt)"
    # A sync that fails (the first, the output's; the second, its folder's)
    # keeps track 1's WAV file, and the summary says why.
    sed 's/^JOBS=0/JOBS=1/' encbridge.ini >one.ini
    for failing in 1 2; do
        rm -rf out && mkdir out
        strace -f -qq -o /dev/null -e signal=none -e inject=fsync:error=EIO:when=$failing "$host" album.cue \
            --settings one.ini --out out --verbose >out.txt 2>&1 || fail "failing sync $failing: exit $?"
        expect_text "not on disk (Input/output error (error 5)), #temp(01).wav is left"
        expect_text "encoded and moved, WAV kept: the output could not be put on disk"
        [ "$(ls out | grep -c '^#temp(..)\.wav$')" -eq 1 ] || fail "failing sync $failing: WAV files left: $(ls out)"
    done
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
    # The verify line that the module runs on each output, split as the encoder's is.
    printf 'VERIFY=exact\nVERIFY_EXEPATH=/usr/bin/flac\nVERIFY_COMMAND=-d -c %%o%%\n' >>encbridge.ini
    run_host --out out --dry-run --tracks 2 || fail "verify: exit status $?"
    grep -A4 "verify line: " out.txt | tr '\n' '|' |
        grep -qF -- "|  program  /usr/bin/flac|  argument -d|  argument -c|  argument $work/out/#temp(02).flac|" ||
        fail "no verify line is shown"
    # A word that looks like a tag and is none is named, with the tags the line knows.
    sed -i "s/^COMMAND=.*/COMMAND=-T GENRE=%genre% -o %o% %i%/" encbridge.ini
    run_host --out out --dry-run --tracks 2 || fail "unknown tag: exit status $?"
    expect_text "COMMAND of [OPTION] holds %genre%, which no tag of its line is"
    expect_text "%tisr% %tcmp% %tsng% %i% %o% (and each without its closing %)"
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
    expect_text "not produced: the final name exists (File exists (error 17)), #temp(03).wav is left"
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
    INDEX 00 00:00:00
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
    expect_text "Note: track 1 is marked pre-emphasised (FLAGS PRE); its audio is delivered unchanged"
    expect_audio "out/01 First Light.flac" 0-150 zero:10 150-225
    expect_audio "out/02 Second_ A_B_.flac" 225-483 zero:75
    expect_audio "out/03 Third.flac" 483-565
    [ "$(ls out | wc -l)" -eq 3 ] || fail "expected three files: $(ls out)"
    # Prepended, a PREGAP starts its own track; the POSTGAP stays at its own.
    rm -rf out
    run_host --out out --gaps=prepend || fail "prepend: exit status $?"
    expect_audio "out/01 First Light.flac" 0-150 zero:10
    expect_audio "out/03 Third.flac" zero:75 483-565
    ;;
gap_modes)
    # Track 2's INDEX 00 audio (sectors 150-225) and track 4's (525-565) at
    # the start of their own tracks, or in no file.
    make_image wav
    write_settings
    run_host --out out --gaps=prepend || fail "prepend: exit status $?"
    expect_audio "out/01 First Light.flac" 0-150
    expect_audio "out/02 Second_ A_B_.flac" 150-483
    expect_audio "out/03 Third.flac" 483-525
    expect_audio "out/04 Fourth.flac" 525-end
    rm -rf out
    run_host --out out --gaps drop || fail "drop: exit status $?"
    expect_audio "out/01 First Light.flac" 0-150
    expect_audio "out/02 Second_ A_B_.flac" 225-483
    expect_audio "out/03 Third.flac" 483-525
    expect_audio "out/04 Fourth.flac" 565-end
    ;;
write_cue)
    # The written sheet names each track's file with its gaps where the
    # files hold them: ripped again from those files, it gives the same
    # tracks, bit for bit, whichever way the gaps went the first time.
    # What the sheet holds beyond positions and texts is written again.
    make_image wav
    write_settings
    sed -i -e '1i CATALOG 0123456789012' -e '/"First Light"/a\    FLAGS PRE\n    ISRC USRC17607839' album.cue
    run_host --out first --gaps=prepend --write-cue || fail "exit status $?"
    grep -qxF '    INDEX 00 00:00:00' "first/Test Album.cue" || fail "no INDEX 00 at a file's start: $(cat "first/Test Album.cue")"
    for line in 'CATALOG 0123456789012' '    FLAGS PRE' '    ISRC USRC17607839'; do
        grep -qxF "$line" "first/Test Album.cue" || fail "the written sheet lacks $line: $(cat "first/Test Album.cue")"
    done
    grep -q "First Light.*pre-emphasised (FLAGS PRE)" out.txt || fail "the summary does not mark the pre-emphasised track"
    "$host" "first/Test Album.cue" --settings encbridge.ini --out out >out.txt 2>&1 || fail "again: exit status $?"
    expect_album_tracks
    # Gaps appended, and written again beside folders of the pattern.
    rm -rf out
    "$host" "first/Test Album.cue" --settings encbridge.ini --out again --name "{album}/{number}" --write-cue \
        >out.txt 2>&1 || fail "append: exit status $?"
    grep -qxF 'FILE "02.flac" WAVE' "again/Test Album/Test Album.cue" || fail "FILE lines: $(cat "again/Test Album/Test Album.cue")"
    "$host" "again/Test Album/Test Album.cue" --settings encbridge.ini --out out >out.txt 2>&1 ||
        fail "third: exit status $?"
    expect_album_tracks
    rm "again/Test Album/01.flac"
    "$host" "first/Test Album.cue" --settings encbridge.ini --out again --name "{album}/{number}" --write-cue \
        --tracks 1 >out.txt 2>&1 && fail "an existing cue sheet was replaced"
    expect_text "Test Album.cue exists already"
    # A track not produced: no sheet that names a file that is not there.
    printf '#!/bin/sh\ncase "$*" in *"#temp(02)"*) exit 1 ;; esac\nexec flac "$@"\n' >fail-2 && chmod 755 fail-2
    write_settings "$work/fail-2"
    run_host --out partial --write-cue
    [ $? -eq 3 ] || fail "a track not produced, --write-cue: exit status not 3"
    [ -e "partial/Test Album.cue" ] && fail "a cue sheet was written with a track not produced"
    expect_text "The cue sheet was not written: not every track was produced"
    write_settings
    # A dropped gap is a PREGAP; a double quote in a title cannot end it.
    sed 's/"Third"/"3\\"rd"/' album.cue >quote.cue
    "$host" quote.cue --settings encbridge.ini --out dropped --gaps=drop --write-cue >out.txt 2>&1 || fail "drop: $?"
    grep -qxF '    PREGAP 00:01:00' "dropped/Test Album.cue" && grep -qxF "    TITLE \"3'rd\"" "dropped/Test Album.cue" ||
        fail "dropped: $(cat "dropped/Test Album.cue")"
    # Never written through a link, even with --overwrite.
    echo keep >elsewhere.txt
    ln -sf "$work/elsewhere.txt" "again/Test Album/Test Album.cue"
    "$host" "first/Test Album.cue" --settings encbridge.ini --out again --name "{album}/{number}" --write-cue \
        --tracks 1 --overwrite >out.txt 2>&1 && fail "a cue sheet was written through a link"
    [ "$(cat elsewhere.txt)" = keep ] || fail "the file a link leads to was changed"
    ;;
new_user)
    # What a new user runs into, each said in words.
    make_image wav
    write_settings
    XDG_CONFIG_HOME="$work/none" "$host" album.cue >out.txt 2>&1 && fail "a rip without settings"
    expect_text "no settings file was found (looked for $work/none/encbridge/encbridge.ini"
    expect_text "name one with --settings FILE, such as $examples/linux/flac.ini"
    write_settings flac
    expect_error "write the full path, EXEPATH=$(command -v flac) (found on PATH)" album.cue --settings encbridge.ini
    # Texts of the sheet never reach the terminal as commands.
    write_settings
    sed -e 's/"Third"/"Th\x1b[2Jird"/' -e 's/"Test Album"/"Test\x1b]0;owned\x07"/' album.cue >escape.cue
    "$host" escape.cue --settings encbridge.ini --out out --tracks 3 --write-cue >out.txt 2>&1 || fail "escape: $?"
    grep -q "$(printf '\033\\|\007')" out.txt out/*.cue && fail "a control character was printed or written"
    expect_text 'Ripping 1 of 4 tracks of "Test?]0;owned?"'
    expect_audio "out/03 Th_[2Jird.flac" 483-565
    # Options for testing hosts come under a heading of their own.
    "$host" --help >out.txt 2>&1
    sed -n '/^Options for testing/,/^Settings/p' out.txt | grep -q -- "--piece-size" || fail "--piece-size is among a user's options"
    # The manual page (made from docs/host.md): the settings files and the
    # exit status are not under the options.
    page=$(dirname "$host")/../tools/encbridge-host.1
    [ -f "$page" ] || fail "no manual page at $page"
    sed -n '/^OPTIONS$/,/^EXIT STATUS$/p' "$page" | grep -q 'XDG_CONFIG_HOME\|every album step was done' &&
        fail "the manual page has the settings or the exit status under the options"
    # No album named, beside a sheet: usage, and the sheet named; no demo.
    "$host" >out.txt 2>&1
    [ $? -eq 2 ] || fail "no arguments beside a sheet: exit status not 2"
    expect_text "no album named, and this folder holds album.cue, escape.cue: name the one to rip"
    [ -e encbridge-demo ] && fail "a demo album was made beside a sheet"
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
detected_charset)
    # Sheets in cp1251 and in Shift-JIS, read without --cue-charset: the
    # names and tags come out as the sheet means them.
    make_image wav
    write_settings
    for charset in cp1251 shift_jis; do
        case $charset in
        cp1251) band='Кино' album='Группа крови' title='Звезда по имени Солнце' ;;
        *) band='宇多田ヒカル' album='ファースト・ラブ' title='オートマティック' ;;
        esac
        sed -e "s/Test Band/$band/" -e "s/Test Album/$album/" -e "s/\"Third\"/\"$title\"/" album.cue |
            iconv -f UTF-8 -t $charset >$charset.cue || fail "iconv could not write $charset.cue"
        "$host" $charset.cue --settings encbridge.ini --out $charset --tracks 3 >out.txt 2>&1 || fail "$charset: $?"
        expect_audio "$charset/03 $title.flac" 483-565
        metaflac --show-tag=TITLE "$charset/03 $title.flac" | grep -qxF "TITLE=$title" || fail "$charset: the title tag"
        # The MP3 settings of docs/settings.md, through Debian's lame.
        "$host" $charset.cue --settings "$examples/linux/mp3.ini" --out $charset-mp3 --tracks 3 >out.txt 2>&1 ||
            fail "$charset, lame: $?"
        ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 "$charset-mp3/03 $title.mp3" |
            grep -qxF "$title" || fail "$charset: the MP3's title tag"
    done
    # On a shelf: Ukrainian in KOI8-U, and UTF-8 after its byte order mark
    # with a title pasted in from cp1252, are read as written; a sheet whose
    # code page is not clear is not ripped, and the others are.
    mkdir -p cp/uk cp/bom cp/unclear
    for folder in uk bom unclear; do cp image.wav cp/$folder/; done
    sed -e 's/Test Album/Без меж/' -e 's/"Third"/"Обійми"/' album.cue | iconv -f UTF-8 -t KOI8-U >cp/uk/album.cue
    { printf '\357\273\277'; sed -e 's/Test Band/Sigur Rós/' -e 's/"Third"/"Caf\xe9"/' album.cue; } >cp/bom/album.cue
    sed -e 's/Test Album/Unclear/' -e 's/"Third"/"Ko\xe8ka"/' album.cue >cp/unclear/album.cue
    "$host" cp --recursive --settings encbridge.ini --out "$work/cp-out/{album}" --tracks 3 >out.txt 2>&1
    [ $? -eq 1 ] || fail "a sheet whose code page is not clear: exit status not 1"
    expect_text "Shelf: 3 album(s): 2 done, 0 partly done, 1 failed"
    expect_text "failed: cp/unclear/album.cue: cp/unclear/album.cue is not UTF-8, and which code page it is in is not clear: it reads as cp1252 (\"Koèka\") or CP1250 (\"Kočka\"); not ripped: name the code page with --cue-charset, such as --cue-charset=cp1252"
    expect_audio "cp-out/Без меж/03 Обійми.flac" 483-565
    expect_audio "cp-out/Test Album/03 Café.flac" 483-565
    [ ! -e cp-out/Unclear ] || fail "the unclear album was ripped"
    ;;
first_pregap)
    # Track 1 starts at 00:01:00 after an INDEX 00: noise before it is a
    # hidden track, joined to track 1 by default, so that docs/settings.md's
    # templates give the sheet's numbers; digital silence is dropped, each
    # with a notice.
    make_image wav
    write_settings
    sed -i 's/^COMMAND=/COMMAND=-T TRACKNUMBER=%no -T TRACKTOTAL=%trk2 /' encbridge.ini
    sed 's/    INDEX 01 00:00:00/    INDEX 00 00:00:00\n    INDEX 01 00:01:00/' album.cue >hidden.cue
    "$host" hidden.cue --settings encbridge.ini --out out >out.txt 2>&1 || fail "exit status $?"
    expect_text "Note: 1.00 s of audio before track 1 is joined to it, so that every track keeps the sheet's number"
    expect_audio "out/01 First Light.flac" 0-225
    expect_audio "out/04 Fourth.flac" 565-end
    [ "$(ls out | wc -l)" -eq 4 ] || fail "expected four files: $(ls out)"
    grep -q "warning" out.txt && fail "a warning without a track 0"
    metaflac --show-tag=TRACKNUMBER --show-tag=TRACKTOTAL out/01*.flac out/04*.flac | tr '\n' ' ' | grep -qF \
        "01 First Light.flac:TRACKNUMBER=1 out/01 First Light.flac:TRACKTOTAL=4 out/04 Fourth.flac:TRACKNUMBER=4" || fail "numbers"
    # Written as track 0 when asked for, as the sheet names it; join and drop.
    rm -rf out
    "$host" hidden.cue --settings encbridge.ini --out out --first-pregap=track --write-cue >out.txt 2>&1 ||
        fail "track 0: exit status $?"
    # A sheet has no track 0: its audio is the first INDEX 01's pregap, as it was.
    grep -q "TRACK 01" "out/Test Album.cue" && ! grep -q "TRACK 00" "out/Test Album.cue" ||
        fail "the written sheet: $(cat "out/Test Album.cue")"
    expect_text "Note: 1.00 s of audio before track 1 is written as track 0, \"Hidden track\""
    expect_audio "out/00 Hidden track.flac" 0-75
    expect_audio "out/01 First Light.flac" 75-225
    metaflac --show-tag=TITLE "out/00 Hidden track.flac" | grep -qxF "TITLE=Hidden track" || fail "hidden track title"
    rm -rf out
    sed 's/^TITLE "Test Album"/&\nREM HIDDEN_TITLE "Before"/' hidden.cue >named.cue
    "$host" named.cue --settings encbridge.ini --out out --tracks 1 --first-pregap=track >out.txt 2>&1 || fail "named: exit status $?"
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
    expect_text "first light.WAV, and 3 more file(s) it names were found under other names too"
    [ "$(grep -c '^Note: album.cue names' out.txt)" -eq 1 ] || fail "not one notice for the album's files"
    expect_album_tracks
    ;;
shelf)
    # Three albums of different layouts and a broken one, found in a folder
    # and its subfolders, each ripped once into its own folder of the
    # pattern; the broken one fails, the others are done.
    make_image wav
    write_settings
    mkdir -p shelf/wav shelf/flac/deeper shelf/tracks shelf/broken
    cp image.wav album.cue shelf/wav/
    sed 's/^TITLE "Test Album"/TITLE "Flac Album"/' album.cue >flac.cue
    flac -s -o shelf/flac/deeper/image.flac image.wav && metaflac --set-tag-from-file=CUESHEET=flac.cue \
        shelf/flac/deeper/image.flac || fail "flac could not make the image"
    cut_file 0-225 shelf/tracks/01.wav
    cut_file 225-483 shelf/tracks/02.wav
    cut_file 483-end shelf/tracks/03.flac
    printf 'PERFORMER "A/B"\nTITLE "Tracks"\nFILE "01.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >shelf/tracks/t.cue
    printf 'FILE "02.wav" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\nFILE "03.flac" WAVE\n  TRACK 03 AUDIO\n' >>shelf/tracks/t.cue
    printf '    INDEX 01 00:00:00\n' >>shelf/tracks/t.cue
    printf 'FILE "gone.wav" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >shelf/broken/broken.cue
    # The sheet named as well as its folder is one album, not two.
    "$host" shelf/wav/album.cue shelf --recursive --settings encbridge.ini --out "$work/out/{albumartist}/{album}" \
        >out.txt 2>&1
    [ $? -eq 1 ] || fail "a failed album: exit status not 1"
    expect_text "Shelf: 4 album(s): 3 done, 0 partly done, 1 failed"
    expect_text "failed: shelf/broken/broken.cue: there is no image at"
    for album in "Test Band/Test Album" "Test Band/Flac Album"; do
        expect_audio "out/$album/01 First Light.flac" 0-225
        expect_audio "out/$album/04 Fourth.flac" 565-end
    done
    expect_audio "out/A_B/Tracks/02 Track 2.flac" 225-483
    expect_audio "out/A_B/Tracks/03 Track 3.flac" 483-end
    # A stop during an album ends the shelf: the albums after it are not started.
    rm -rf out
    setsid env --default-signal=INT LD_PRELOAD="$slow_image" ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
        "$host" shelf --recursive --settings encbridge.ini --out "$work/out/{albumartist}/{album}" --piece-size 2352 \
        >out.txt 2>&1 &
    pid=$!
    timeout 30 sh -c "until grep -qF 'Album 2 of 4' out.txt; do sleep 0.05; done" || fail "never saw album 2"
    kill -INT -$pid
    wait $pid
    status=$?
    [ $status -eq 130 ] || fail "a stop during a shelf: exit status $status, not 130"
    expect_text "1 failed, 1 stopped, 2 not started"
    ;;
shelf_names)
    # Albums whose names meet: refused before anything is ripped, or skipped
    # when asked; an untitled album named from its sheet; titles that would
    # drive a terminal; a stop in the middle and --resume with --write-cue.
    # The sheets are UTF-8, named so: two C1 controls alone would leave the
    # code page in doubt, which is not what this case is about.
    make_image wav
    write_settings
    mkdir -p shelf/a shelf/b shelf/c shelf/d shelf/e shelf/f
    sed -e 's/^TITLE "Test Album"/TITLE "Hostile\xc2\x9b2J\x1b]0;x\x07"/' -e 's/"Third"/"Th\xc2\x9dird"/' \
        album.cue >shelf/a/hostile.cue
    grep -v '^TITLE\|^PERFORMER' album.cue >shelf/b/untitled.cue
    # The same album twice, its title once in capitals: one folder where
    # case is not told apart.
    cp album.cue shelf/c/
    sed 's/^TITLE "Test Album"/TITLE "TEST ALBUM"/' album.cue >shelf/d/album.cue
    sed 's/^TITLE "Test Album"/TITLE "Fifth"/' album.cue >shelf/e/album.cue
    sed 's/^TITLE "Test Album"/TITLE "Sixth"/' album.cue >shelf/f/album.cue
    for each in a b c d e f; do cp image.wav shelf/$each/; done
    pattern="$work/out/{albumartist}/{album}"
    for dry in --dry-run --overwrite; do
        "$host" shelf --recursive --cue-charset utf-8 --settings encbridge.ini --out "$pattern" $dry >out.txt 2>&1 && fail "$dry: colliding albums"
        expect_text "shelf/c/album.cue and shelf/d/album.cue would both write $work/out/Test Band/Test Album/01 First Light.flac"
        [ -z "$(find out -type f 2>/dev/null)" ] || fail "$dry: something was ripped: $(find out -type f)"
    done
    # Stopped during the fifth album: the shelf's summary still comes.
    setsid env --default-signal=INT LD_PRELOAD="$slow_image" ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
        "$host" shelf --recursive --cue-charset utf-8 --settings "$work/encbridge.ini" --out "$pattern" --piece-size 2352 --write-cue \
        --skip-colliding --verbose >out.txt 2>&1 &
    pid=$!
    timeout 60 sh -c "until grep -qF 'Album 5 of 6' out.txt; do sleep 0.05; done" || fail "never saw album 5"
    sleep 0.3
    kill -INT -$pid
    wait $pid
    status=$?
    [ $status -eq 130 ] || fail "stopped shelf: exit status $status, not 130"
    expect_text "Shelf: 6 album(s): 2 done, 0 partly done, 2 failed, 1 stopped, 1 not started"
    expect_text "failed: shelf/c/album.cue: skipped: would write $work/out/Test Band/Test Album/01 First Light.flac"
    expect_text "not started: shelf/f/album.cue"
    expect_text "Note: untitled.cue has no TITLE: the album is named \"untitled\" in file names, from its file name"
    expect_audio "out/untitled/03 Third.flac" 483-565
    LC_ALL=C grep -q "$(printf '\033\\|\007\\|\302[\200-\237]')" out.txt && fail "a control character was printed"
    find out | LC_ALL=C grep -q "$(printf '\302[\200-\237]')" && fail "a file name holds a C1 control: $(find out)"
    expect_audio "out/Test Band/Hostile_2J_]0;x_/03 Th_ird.flac" 483-565
    # The rest, sheets written again where they are this rip's.
    rm -r shelf/d
    "$host" shelf --recursive --cue-charset utf-8 --settings encbridge.ini --out "$pattern" --write-cue --resume >out.txt 2>&1 ||
        fail "--resume: exit status $?"
    expect_text "Shelf: 5 album(s): 5 done"
    for album in "untitled" "Test Band/Test Album" "Test Band/Fifth" "Test Band/Sixth"; do
        expect_audio "out/$album/01 First Light.flac" 0-225
        expect_audio "out/$album/04 Fourth.flac" 565-end
    done
    grep -qxF 'FILE "02 Second_ A_B_.flac" WAVE' "out/untitled/untitled.cue" || fail "no sheet for the untitled album"
    # A sheet that is not this rip's stays.
    echo 'REM COMMENT "mine"' >>out/untitled/untitled.cue
    "$host" shelf/b/untitled.cue --settings encbridge.ini --out "$pattern" --write-cue --resume >out.txt 2>&1 &&
        fail "another sheet was replaced"
    expect_text "untitled.cue exists already, and is not the sheet this rip writes"
    # No output may be a file the run reads.
    mkdir own
    cut_file 0-225 "own/01 One.flac"
    printf 'FILE "01 One.flac" WAVE\n  TRACK 01 AUDIO\n    TITLE "One"\n    INDEX 01 00:00:00\n' >own/own.cue
    ls -i own >before.txt
    expect_error "$work/own/01 One.flac is read by this run" own/own.cue --settings encbridge.ini --out own --overwrite
    ls -i own | cmp -s - before.txt || fail "a source was touched"
    # A second host on a folder in use touches none of the running rip's
    # files; the first one's Fourth waits for its second output.
    rm -rf out
    printf '#!/bin/sh\ni=0\ncase "$*" in *Fourth*) while [ ! -e "%s/release" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done ;; esac\nexec flac "$@"\n' \
        "$work" >held-enc && chmod 755 held-enc
    sed -i 's/^JOBS=0/JOBS=4/' encbridge.ini
    printf '[OUTPUT2]\nOUT=.fla\nEXEPATH=%s/held-enc\nCOMMAND=-s -f -T TITLE=%%ttit%% -o %%o%% %%i%%\n' "$work" >>encbridge.ini
    "$host" album.cue --settings encbridge.ini --out out >first.txt 2>&1 &
    pid=$!
    # Every final file but track 4's second output is there (a temporary
    # output is no final file), and the WAV files
    # of the tracks before it are gone.
    timeout 60 sh -c "until [ \$(ls out | grep -v '^#' | grep -c '\.fla') -eq 7 ] && ! ls out | grep -q '^#temp(0[123])'; do sleep 0.05; done" ||
        { touch release; fail "the first rip never got to track 4"; }
    ls -i out >before.txt
    for second in --overwrite --resume; do
        run_host --out out $second && { touch release; fail "$second: a second rip in a folder in use"; }
        ls -i out | cmp -s - before.txt || { touch release; fail "$second touched the running rip's files: $(ls out)"; }
    done
    touch release
    wait $pid || fail "the first rip: exit status $?"
    expect_album_tracks
    ;;
disc_set)
    # Two discs of one set in one folder, ripped in one run to
    # {albumartist}/{album}/: each disc's names begin with its number, and its
    # disc, genre, ISRC and cover reach the encoder once the module expands
    # them, with a journal the settings name too. Hostile values and covers
    # are dropped with a word, never a hang.
    make_image wav
    mkdir set
    sed -e '1i REM DISC "1"\nREM GENRE Jazz' -e '/"First Light"/a\    ISRC USRC17607839' album.cue >set/disc1.cue
    long=$(printf '%0300d' 0)
    sed -e "1i REM DISCNUMBER 2/2\\nREM GENRE Jazz\\nREM COMMENT $long\\nREM COMPOSER \"a$(printf '\033')[2Jb\"" \
        -e '/"First Light"/a\    ISRC usrc-bad' album.cue >set/disc2.cue
    cp image.wav set/
    printf 'jpeg' >set/Folder.JPG && mkfifo set/cover.jpg && ln -s /etc/passwd set/COVER.jpeg
    cat >encbridge.ini <<INI
[SETUP]
OUT=.flac
[OPTION]
EXEPATH=/usr/bin/flac
COMMAND=-s -f -T TITLE=%ttit% -T DISCNUMBER=%disc% -T GENRE=%agen% -T ISRC=%tisr% -T COVER=%apic% -o %o% %i%
LOG=journal.log
DELETE=1
JOBS=0
INI
    "$host" set --settings "$work/encbridge.ini" --out "$work/out/{albumartist}/{album}" >out.txt 2>&1 ||
        fail "exit status $?"
    expect_text "Note: set/disc2.cue is disc 2 of a set in this run: its file names begin with the disc's number"
    for note in "line 3: REM COMMENT is longer than 255 bytes" "line 4: REM COMPOSER holds a control character" \
        "ISRC is not twelve capital letters and digits" "set/cover.jpg is not a regular file" "set/COVER.jpeg is not a regular file"; do
        expect_text "$note"
    done
    for disc in 1 2; do
        expect_audio "out/Test Band/Test Album/$disc-01 First Light.flac" 0-225
        expect_audio "out/Test Band/Test Album/$disc-04 Fourth.flac" 565-end
    done
    [ -z "$(ls tmp)" ] || fail "left in the temporary folder: $(ls tmp)"
    tag() { metaflac --show-tag="$2" "out/Test Band/Test Album/$1" | cut -d= -f2-; }
    for row in "1-01 First Light.flac|DISCNUMBER|1" "2-01 First Light.flac|DISCNUMBER|2" \
        "2-03 Third.flac|GENRE|Jazz" "1-01 First Light.flac|ISRC|USRC17607839" "2-01 First Light.flac|ISRC|" \
        "1-02 Second_ A_B_.flac|COVER|$(cd set && pwd -P)/Folder.JPG"; do
        IFS='|' read -r file name value <<ROW
$row
ROW
        [ "$(tag "$file" "$name")" = "$value" ] || fail "$file: $name is \"$(tag "$file" "$name")\", not \"$value\""
    done
    ;;
embedded_cue)
    # The image is named in place of a cue sheet: its CUESHEET block gives
    # the positions, a CUESHEET tag the titles too.
    make_image wav
    write_settings
    grep -v "^REM" album.cue >plain.cue
    echo iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg== |
        base64 -d >cover.png
    flac -s --cuesheet=plain.cue -T "ALBUM=Block Album" -T GENRE=Rock -T DISCNUMBER=2/3 --picture=cover.png \
        -o image.flac image.wav || fail "flac could not embed the cue sheet"
    # The image's own tags fill the fields of names.
    "$host" image.flac --settings encbridge.ini --out out --name "{disc} {genre} {number}" --dry-run >out.txt 2>&1 ||
        fail "fields: exit status $?"
    expect_text "track 02 -> $work/out/2 Rock 02.flac"
    "$host" image.flac --settings encbridge.ini --out out >out.txt 2>&1 || fail "block: exit status $?"
    # The image's picture, written for the rip as the cover, goes with it.
    [ -z "$(ls tmp)" ] || fail "left in the temporary folder: $(ls -R tmp)"
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
    expect_error "is not CD audio: 44100 Hz, 2 channel(s), Signed 24 bit PCM" album.cue --settings encbridge.ini
    # An image named where its sheet belongs, a FLAC image without one, a folder.
    expect_error "image.wav is a WAV file with no cue sheet; the host takes a cue sheet (.cue)" image.wav --settings encbridge.ini
    flac -s -f -o bare.flac image.wav 2>/dev/null
    expect_error "bare.flac is a FLAC file with no cue sheet inside (neither a CUESHEET block nor a CUESHEET tag); the host takes" bare.flac --settings encbridge.ini
    mkdir -p empty/sub && cp album.cue empty/sub/
    expect_error "empty: no cue sheet and no FLAC image with a sheet inside (--recursive searches" empty --settings encbridge.ini
    sox -n -r 44100 -c 2 -b 16 image.wav synth 7.2 sine 440 || fail "sox"
    expect_error "track 4 starts at 00:07:40, but the image ends at 00:07:15" album.cue --settings encbridge.ini
    # An image cut short in track 4: the tracks delivered before are still
    # encoded by a slow encoder, and track 4's partial WAV, a copy of what
    # the image still holds, goes; the message says where the image broke.
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
    expect_text "the image could not be read at track 4: image.flac could not be read beyond 00:0"
    expect_text "of its 00:10:49: Error : flac decoder lost sync.; its partial WAV file #temp(04).wav"
    [ -e "out/#temp(04).wav" ] && fail "track 4's partial WAV is left"
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
case "$*" in *"#temp(02)"*) [ -f "$FAIL_TRACK_2" ] && { echo "Encoding..."; printf 'Error: cannot open\n\n' >&2; exit 1; } ;; esac
exec opusenc "$@"
SH
    printf '#!/bin/sh\necho "$@" >"%s/opus-step.txt"\n' "$work" >opus-step
    chmod 755 opus-wrap opus-step
    # The example of docs/settings.md, with a wrapper in front of opusenc and an album
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
    expect_text "not produced: the encoder failed; it said: Error: cannot open, #temp(02).wav is left"
    expect_text "1 of 4 track(s) were not produced"
    # --verbose: the module's records as they come.
    expect_text "journal: track 2, output 2: WAV kept: the encoder failed (exit 1"
    expect_text "      Encoding..."
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
    expect_error "--out: \"{length}\" is not a field; use {number}, {title}" album.cue --out "out/{length}"
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
