#!/usr/bin/env bash
# A mutation run's test command (bash scripts/mutation-test.sh BUILD, in the copy with the fault): the
# Linux suite of BUILD; a fault it misses also faces the Windows build (BUILD-windows) under Wine (BUILD-wine).
set -u
build=$(realpath "$1")
ctest --test-dir "$build" -j2 --timeout 120 --stop-on-failure -E "Windows|wine" >/dev/null || exit 1
cmake --preset windows -B "$build-windows" >/dev/null && cmake --build "$build-windows" -j2 >/dev/null || exit 1
cmake -S . -B "$build-wine" -DCMAKE_BUILD_TYPE=Release -DQZ_WINDOWS_BIN_DIR="$build-windows/bin" >/dev/null &&
  cmake --build "$build-wine" -j2 --target qz_windows_e2e_tests qzsim >/dev/null || exit 1
ctest --test-dir "$build-wine" -j2 -R "Windows|wine" --stop-on-failure >/dev/null
