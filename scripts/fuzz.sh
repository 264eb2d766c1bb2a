#!/usr/bin/env bash
# libFuzzer targets, built with clang inside the build root.
#   scripts/fuzz.sh build              build every target into build-fuzz/
#   scripts/fuzz.sh run NAME [SECONDS] fuzz one target (fuzz/fuzz_NAME.cpp), default 60 s
#   scripts/fuzz.sh all                every target for QUILLMAR_FUZZ_SECONDS (default 60) each
# Seeds come from fuzz/corpus/NAME/; what the fuzzer finds grows build-fuzz/corpus/NAME/;
# crashes land in build-fuzz/crashes/NAME/.
set -euo pipefail
cd "$(dirname "$0")/.."
build() {
  scripts/root.sh run bash -c 'CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLMAR_FUZZ=ON -DQUILLMAR_WERROR=ON -DQUILLMAR_TESTS=OFF >/dev/null && cmake --build build-fuzz'
}
run() {
  local name=$1 seconds=${2:-60}
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/crashes/$name" "fuzz/corpus/$name"
  scripts/root.sh run env ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$name/" "build-fuzz/corpus/$name" "fuzz/corpus/$name"
}
case "${1:-}" in
  build) build ;;
  run) shift; build; run "$@" ;;
  all)
    build
    for src in fuzz/fuzz_*.cpp; do
      [ -e "$src" ] || continue
      name=$(basename "$src" .cpp); run "${name#fuzz_}" "${QUILLMAR_FUZZ_SECONDS:-60}"
    done ;;
  *) echo "usage: scripts/fuzz.sh build | run NAME [SECONDS] | all" >&2; exit 2 ;;
esac
