# Sourced by the tests that run the real Windows encoders, with $top the
# source tree and $tools the Linux tools they check with: sets ffmpeg_exe
# and encoders (the folder of flac.exe, metaflac.exe and lame.exe), as the
# install step fetched and built them. Exits 1 when one is missing: such a
# test never passes without them.
#
# Wine names Linux files, and the tools print tags, in the locale's character
# set: a UTF-8 one keeps the names and tags the rips gave, whatever locale the
# test command runs in. (The ANSI code page of the wine prefix stays cp1252.)
export LC_ALL=C.UTF-8
fail() {
    echo "${0##*/}: $*" >&2
    exit 1
}
ffmpeg_exe=$("$top/tools/fetch-ffmpeg" --path) || exit 1
encoders=$("$top/tools/build-win-encoders" --path) || exit 1
for tool in $tools; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (tools/install-deps installs it)"
done
