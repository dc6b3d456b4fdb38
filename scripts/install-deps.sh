#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, only where
# it is missing. Run as root, or with sudo available.
set -euo pipefail

# The Linux build and its tests; MinGW-w64 and Wine for the Windows build and
# its tests under Wine, clang 14 with its sanitizer and libFuzzer runtimes for
# the fuzzing, and what the package checks use (groff for the ZIP's text man
# page, lintian, bash-completion, icoutils' wrestool): all left out with
# --linux-only.
packages=(cmake g++ make libgtest-dev nlohmann-json3-dev)
if [ "${1:-}" != "--linux-only" ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 clang-14 libclang-rt-14-dev
    groff-base lintian bash-completion icoutils)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
