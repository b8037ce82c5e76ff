#!/usr/bin/env bash
# Builds the review-project decoder fuzzer on its own (clang, libFuzzer, ASan + UBSan; the main
# build is not touched) and runs it.
#
#   tests/fuzz/run.sh [seconds] [extra libFuzzer options...]
#
# seconds defaults to 600. Work files go to build-fuzz/ in the repository: the objects, the
# growing corpus (build-fuzz/corpus), the seeds (build-fuzz/seeds), crash, timeout and leak
# inputs (build-fuzz/artifacts/) and the full log (build-fuzz/fuzz.log). To replay one input:
#   build-fuzz/ProjectDecoderFuzzer build-fuzz/artifacts/crash-…
set -euo pipefail

seconds=${1:-600}
shift || true
[[ $seconds =~ ^[0-9]+$ ]] || { echo "usage: $0 [seconds] [libFuzzer options...]" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
out=${FUZZ_OUT:-$repo/build-fuzz}
cxx=${CXX_FUZZ:-clang++-14}
command -v "$cxx" >/dev/null || { echo "$cxx is missing: apt-get install clang-14 libclang-rt-14-dev" >&2; exit 1; }

sanitizers=address,undefined
common=(-std=c++20 -O1 -g -fno-omit-frame-pointer -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS
        -Wall -Wextra -Werror -I "$repo/TalvianCore")

mkdir -p "$out/obj" "$out/corpus" "$out/artifacts"

echo "== building in $out"
# The model and support folders, nothing that reaches the media layers, as an archive: the linker
# takes only the objects the decoder needs, so a file added to or moved between those folders needs
# no change here. The objects carry coverage but no fuzzer main (fuzzer-no-link), so they link into
# both the fuzzer and the seed writer.
sources=("$repo"/TalvianCore/Model/*.cpp "$repo"/TalvianCore/Support/*.cpp)
libraries=($(pkg-config --libs icu-uc libcrypto))
rm -f "$out"/obj/*.o "$out/model.a"
for source in "${sources[@]}"; do
    while (($(jobs -rp | wc -l) >= $(nproc))); do wait -n; done
    "$cxx" "${common[@]}" -fsanitize=fuzzer-no-link,$sanitizers -c "$source" \
        -o "$out/obj/$(basename "$source" .cpp).o" &
done
for job in $(jobs -p); do wait "$job"; done
ar rcs "$out/model.a" "$out"/obj/*.o
"$cxx" "${common[@]}" -fsanitize=fuzzer,$sanitizers "$here/ProjectDecoderFuzzer.cpp" "$out/model.a" \
    "${libraries[@]}" -o "$out/ProjectDecoderFuzzer"
"$cxx" "${common[@]}" -fsanitize=$sanitizers "$here/SeedCorpus.cpp" "$out/model.a" "${libraries[@]}" \
    -o "$out/SeedCorpus"

rm -rf "$out/seeds"
ASAN_OPTIONS=detect_leaks=1 "$out/SeedCorpus" "$out/seeds"
echo "== $(ls "$out/seeds" | wc -l) seeds, $(ls "$out/corpus" | wc -l) inputs already in the corpus"

echo "== fuzzing for $seconds s"
set +e
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
"$out/ProjectDecoderFuzzer" "$out/corpus" "$out/seeds" \
    -dict="$here/project.dict" \
    -max_total_time="$seconds" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -max_len=65536 \
    -detect_leaks=1 \
    -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/" \
    "$@" 2>&1 | tee "$out/fuzz.log" | grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE)|^[[:space:]]+NEW_FUNC'
status=${PIPESTATUS[0]}
set -e

echo "== result"
grep -E '^Done [0-9]+ runs|^#[0-9]+[[:space:]]+DONE' "$out/fuzz.log" || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$out/fuzz.log" || true
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/fuzz.log" | tail -1)
echo "executions: ${executions:-unknown}"
if [[ $status -ne 0 ]]; then
    echo "fuzzer stopped with status $status; inputs in $out/artifacts/" >&2
    exit "$status"
fi
