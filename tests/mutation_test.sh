#!/usr/bin/env bash
# The test command of a mutation run, run from the root of a copy of the
# project with one fault planted in src/: bash tests/mutation_test.sh BUILD
# Runs the Linux suite of BUILD. The first run (the unchanged sources) also
# builds the Windows build and runs its tests under Wine, and keeps a copy of
# the Windows-only sources; a later run whose fault sits in them does so too.
set -u
build=$(realpath "$1")
ctest --test-dir "$build" -j2 --stop-on-failure -E "Windows|wine" >/dev/null || exit 1
windows_code=src/platform/platform_win.cpp
pristine=$build/pristine_platform_win.cpp
if [ -f "$pristine" ] && cmp -s "$pristine" "$windows_code"; then
  exit 0
fi
cmake --preset windows -B "$build-windows" >/dev/null &&
  cmake --build "$build-windows" -j2 >/dev/null || exit 1
cmake -S . -B "$build-wine" -DCMAKE_BUILD_TYPE=Release -DQZ_WINDOWS_BIN_DIR="$build-windows/bin" >/dev/null &&
  cmake --build "$build-wine" -j2 --target qz_windows_e2e_tests qzsim >/dev/null || exit 1
ctest --test-dir "$build-wine" -j2 -R "Windows|wine" --stop-on-failure >/dev/null || exit 1
[ -f "$pristine" ] || cp "$windows_code" "$pristine"
