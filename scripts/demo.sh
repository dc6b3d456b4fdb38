#!/usr/bin/env bash
# Builds the tool and the simulated chip, creates a chip with an older
# firmware and a matching newer image, and upgrades the chip over the default
# USB Billboard link, as an engineer would at a command prompt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --linux-only
cmake --preset default >/dev/null
cmake --build --preset default
bin=build/bin
demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
"$bin/qzsim" create "$demo/chip" --image "$demo/firmware.bin"
export QZSIM_CHIP="$PWD/$demo/chip"
echo "\$ qzupgrade -U firmware.bin"
"$bin/qzupgrade" -U "$demo/firmware.bin" && status=0 || status=$?
echo "(exit status $status)"
echo "\$ qzupgrade -V"
"$bin/qzupgrade" -V || true
exit "$status"
