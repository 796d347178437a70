#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

build=${FARSCAN_TEST_BUILD:-build-test}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" -DFARSCAN_SANITIZE=ON \
  -DPORTIVA_TEST_INTERFACE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

# Services and extra checks the tests rely on (sound server, cross builds ...).
for f in scripts/test.d/*.sh; do
  [[ -e "$f" ]] || continue
  echo "test: $f"
  source "$f"
done

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:verify_asan_link_order=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600 -LE fuzz || status=$?

# Every parser of outside input is fuzzed briefly (FARSCAN_FUZZ=0 skips it).
if [[ "${FARSCAN_FUZZ:-1}" != 0 ]]; then
  ./scripts/fuzz.sh || status=$?
fi
exit "$status"
