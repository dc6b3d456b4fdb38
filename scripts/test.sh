#!/usr/bin/env bash
# Sets up what is missing, builds the Linux and the Windows tool with the
# simulated chip, and runs the whole test suite (the Windows build under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset windows
cmake --workflow --preset ci
