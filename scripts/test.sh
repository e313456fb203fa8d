#!/usr/bin/env bash
# Installs what is missing, builds the Release build (build/) and the
# sanitizer build (build-asan/), starts its own X server, and runs every test
# in both builds: the tests that need no display in parallel, the window tests
# one at a time.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=ON -DVX_BENCHMARKS=OFF >/dev/null || exit 1
cmake --build build-asan -j"$(nproc)" || exit 1

. scripts/xvfb.sh
start_xvfb || exit 1

status=0
run() {
  local dir=$1 label=$2 jobs=$3
  echo "== $dir: tests labelled $label"
  (cd "$dir" && ctest -L "^$label\$" -j"$jobs" --output-on-failure --timeout 300) || status=1
}
JOBS=$(nproc)
run build nodisplay "$JOBS"
run build display 1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run build-asan nodisplay "$JOBS"
# The program keeps its windows and catalog until exit by design, and the X
# libraries keep their own caches: leak reports there say nothing.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run build-asan display 1

if [ $status -eq 0 ]; then echo "All tests passed in both builds."; else echo "Some tests FAILED."; fi
exit $status
