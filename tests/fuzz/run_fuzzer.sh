#!/bin/sh
# Runs a fuzz target on its committed corpus and on what earlier runs found,
# then for RUNS inputs of its own making. The bound is a count of runs, not
# a time: libFuzzer's time counts from its start, and replaying the corpus
# (each rip-sequence input starts encoders) can take minutes on a busy
# machine, leaving no time for the inputs that find something new.
#
#   run_fuzzer.sh TARGET RUNS FOUND CORPUS [LIBFUZZER OPTIONS...]
set -eu
target=$1 runs=$2 found=$3 corpus=$4
shift 4
replayed=$(find "$found" "$corpus" -type f | wc -l)
# One more for the empty input that libFuzzer tries first.
exec "$target" -runs=$((replayed + 1 + runs)) "$@" "$found" "$corpus"
