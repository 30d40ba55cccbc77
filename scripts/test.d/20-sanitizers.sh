#!/usr/bin/env bash
# Sanitizer builds. The whole suite (slow tests included, fuzz runs aside)
# under AddressSanitizer and UndefinedBehaviorSanitizer; the threaded tests —
# every MainDialog test (run control, passes, faults, stress), the command
# line's interrupt and hostile tests, and the window's threaded tests — under
# ThreadSanitizer. Any report fails the test that caused it, and so the stage.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$SECONDS
stamp() { echo "-- $1: $((SECONDS - start)) s"; }

# Every report ends its program with a failing exit code; leaks count too.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"

# Debian's Qt carries no AddressSanitizer runtime; the window's tests run in
# the main build and, threaded ones, under ThreadSanitizer below.
cmake --preset asan -DTESSARO_BUILD_GUI=OFF >/dev/null
cmake --build --preset asan
stamp "asan build"
# The slow tests (100,000 files, a 5 GiB fragment copied whole) run here only.
TESSARO_SLOW_TESTS=1 ctest --preset asan -j2 -LE fuzz
stamp "asan tests"

gui=OFF
if [ -f tests/gui/CMakeLists.txt ] && dpkg-query -W -f='${Status}' qt6-base-dev 2>/dev/null | grep -q 'ok installed'; then
  gui=ON
fi
cmake --preset tsan -DTESSARO_BUILD_GUI=$gui >/dev/null
cmake --build --preset tsan
stamp "tsan build (window: $gui)"
ctest --preset tsan -j2 -L 'app|tsan-threaded'
ctest --preset tsan -j2 -L engine -R 'ScanHelper'
ctest --preset tsan -j2 -L cli -R 'Interrupt|Hostile|Stress'
stamp "tsan tests"
