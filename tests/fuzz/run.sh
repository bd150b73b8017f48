#!/bin/sh
# Runs one target of the fuzz build over its seeds, with its dictionary when
# there is one. New inputs go to build/fuzz/corpus/<target>, crash inputs to
# build/fuzz/artifacts/<target>/; the seeds in tests/fuzz/corpus are read only.
#   tests/fuzz/run.sh fuzz_tga -max_total_time=600
#   tests/fuzz/run.sh fuzz_theora -runs=10000000
set -eu
[ $# -ge 1 ] || { echo "usage: $0 fuzz_<name> [libFuzzer options]" >&2; exit 2; }
name=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz
out=$build/corpus/$name
artifacts=$build/artifacts/$name
mkdir -p "$out" "$artifacts"
# Leaks inside the libraries we decode with are theirs (see lsan.supp).
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
dict=$root/tests/fuzz/dict/$name.dict
if [ -f "$dict" ]; then set -- "-dict=$dict" "$@"; fi
exec "$build/tests/$name" "-artifact_prefix=$artifacts/" -close_fd_mask=2 "$@" "$out" "$root/tests/fuzz/corpus/$name"
