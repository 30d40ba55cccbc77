#!/usr/bin/env bash
# The fuzz targets, each for about a minute from the committed seeds, with
# AddressSanitizer and UndefinedBehaviorSanitizer. A crash, a leak or a
# difference from the reference fails the stage; the input that did it is
# left in build/fuzz/fuzz/ as crash-*, leak-* or timeout-*.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$SECONDS
dir=build/fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARO_BUILD_FUZZ=ON -DTESSARO_BUILD_GUI=OFF -DTESSARO_BUILD_BENCH=OFF -DTESSARO_BUILD_TESTS=OFF \
  -DTESSARO_FUZZ_SECONDS="${TESSARO_FUZZ_SECONDS:-60}" >/dev/null
cmake --build "$dir" --target fuzz_catalogue fuzz_identify fuzz_check fuzz_names fuzz_records fuzz_split
echo "-- fuzz build: $((SECONDS - start)) s"
status=0
ctest --test-dir "$dir" -L fuzz -j2 --output-on-failure || status=$?
# How much each target did, from its final statistics.
for t in catalogue identify check names records split; do
  runs=$(awk -v t="Testing: fuzz_$t" 'index($0, t) {on = 1} on && /stat::number_of_executed_units/ {print $2; exit}' \
    "$dir/Testing/Temporary/LastTest.log" || true)
  echo "fuzz_$t: ${runs:-?} executions"
done
echo "-- fuzz: $((SECONDS - start)) s"
exit $status
