#!/usr/bin/env bash
# Sets up what is missing, then builds and tests everything: the Windows
# build; the Linux tool with the simulated chip and the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows build under
# Wine included; the release packages, checked; a bounded fuzzing run of each
# libFuzzer target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset windows
cmake --workflow --preset ci
bash scripts/check-packages.sh
cmake --workflow --preset fuzz
