#!/usr/bin/env bash
# Sets up what is missing, then builds and tests everything: the Windows
# build; the Linux tool with the simulated chip and the whole suite, the
# Windows build under Wine included; the release packages, checked; a bounded
# fuzzing run of each libFuzzer target, which runs the tool's code under
# AddressSanitizer and UndefinedBehaviorSanitizer. The whole suite under the
# sanitizers is `cmake --workflow --preset asan`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset windows
cmake --workflow --preset ci
bash scripts/check-packages.sh
cmake --workflow --preset fuzz
