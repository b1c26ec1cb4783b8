#!/bin/sh
# tools/fetch-ffmpeg against caches in every state and a registry that
# answers, fails or hands over the wrong file. A stand-in npm on PATH plays
# the registry, so no case reaches the network; the true package comes from
# the cache that tools/install-deps filled.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
fetch=$top/tools/fetch-ffmpeg
name=ffmpeg-installer-win32-ia32-4.1.0.tgz

real_exe=$("$fetch" --path) || exit 1
real_package=$(dirname "$real_exe")/$name
[ -f "$real_package" ] || {
    echo "fetch_ffmpeg_test: $real_package is missing (tools/install-deps fetches it)" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# npm pack: copies $STANDIN_PACKAGE here and names it, or fails as npm does
# when the registry cannot be reached. Each call is noted in $STANDIN_LOG.
cat >"$work/bin/npm" <<'EOF'
#!/bin/sh
echo "$*" >>"$STANDIN_LOG"
[ "$1" = pack ] || exit 2
if [ -z "$STANDIN_PACKAGE" ]; then
    echo "npm error code ECONNREFUSED" >&2
    exit 1
fi
cp "$STANDIN_PACKAGE" "ffmpeg-installer-win32-ia32-4.1.0.tgz" && echo "ffmpeg-installer-win32-ia32-4.1.0.tgz"
EOF
chmod +x "$work/bin/npm"
# Another package file: a tar of the same shape with a different program.
mkdir -p "$work/other/package"
echo "not the checked program" >"$work/other/package/ffmpeg.exe"
tar -czf "$work/other.tgz" -C "$work/other" package
head -c 1000 "$real_package" >"$work/truncated.tgz"

failures=0
check() {
    [ "$1" = "$2" ] || {
        echo "fetch_ffmpeg_test: $case: $3: [$1], not [$2]" >&2
        failures=$((failures + 1))
    }
}

# case | the cache holds | npm pack hands over | exit status | npm called | message | ffmpeg.exe is the real one
while IFS='|' read -r case cached standin status called message real; do
    cache=$work/cache-$(echo "$case" | tr -c 'a-z\n' '-')
    mkdir -p "$cache"
    case $cached in
    package) cp "$real_package" "$cache/$name" ;;
    truncated) cp "$work/truncated.tgz" "$cache/$name" ;;
    package+damaged) cp "$real_package" "$cache/$name" && echo damaged >"$cache/ffmpeg.exe" ;;
    esac
    case $standin in
    package) standin_file=$real_package ;;
    other) standin_file=$work/other.tgz ;;
    *) standin_file= ;;
    esac
    log=$work/npm-$$.log
    : >"$log"
    args=
    [ "$case" = "path only, empty cache" ] && args=--path
    # shellcheck disable=SC2086
    out=$(PATH="$work/bin:$PATH" STANDIN_LOG=$log STANDIN_PACKAGE=$standin_file ENCBRIDGE_FFMPEG_CACHE=$cache \
        "$fetch" $args 2>&1)
    check "$?" "$status" "exit status"
    check "$([ -s "$log" ] && echo yes || echo no)" "$called" "npm called"
    if [ -n "$message" ]; then
        check "$(printf '%s' "$out" | grep -c -F -e "$message")" "1" "lines naming '$message' in: $out"
    fi
    check "$(cmp -s "$cache/ffmpeg.exe" "$real_exe" && echo yes || echo no)" "$real" "ffmpeg.exe is the package's"
done <<'EOF'
empty cache, registry answers|none|package|0|yes||yes
valid cached package, registry unreachable|package|none|0|no||yes
damaged program beside a valid package|package+damaged|none|0|no||yes
truncated cached package, registry answers|truncated|package|0|yes||yes
empty cache, registry unreachable|none|none|1|yes|could not fetch @ffmpeg-installer/win32-ia32@4.1.0|no
registry hands over another file|none|other|1|yes|does not have the sha256|no
truncated cached package, registry unreachable|truncated|none|1|yes|npm pack could not fetch|no
path only, empty cache|none|package|1|no|ffmpeg.exe is missing|no
EOF

echo "fetch_ffmpeg_test: $failures failed"
[ "$failures" -eq 0 ]
