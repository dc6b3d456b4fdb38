#!/usr/bin/env bash
# Sets up what is missing, then builds and tests everything: the Linux tool
# with the simulated chip (and the Windows build under Wine), the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing
# run of each libFuzzer target. The release packages are built from the Linux
# and Windows builds and checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset windows
cmake --workflow --preset ci
bash scripts/check-packages.sh
cmake --workflow --preset asan
cmake --workflow --preset fuzz
