#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs each one for a
# short, bounded time on its seed corpus (FARSCAN_FUZZ_SECONDS, 20 s by default).
# Called by test.sh; runs on its own too.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FARSCAN_FUZZ_BUILD:-build-fuzz}
seconds=${FARSCAN_FUZZ_SECONDS:-20}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DFARSCAN_FUZZ=ON -DFARSCAN_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzzers
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${FUZZ_ASAN_OPTIONS:-detect_leaks=1:verify_asan_link_order=0}
ctest --test-dir "$build" -L fuzz --output-on-failure -j "$(nproc)" --timeout $((seconds + 120))
