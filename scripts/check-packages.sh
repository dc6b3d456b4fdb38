#!/usr/bin/env bash
# Builds the release packages and checks what a user gets from them:
#   - the Debian package (release preset: the tool alone): unpacked into a scratch root, its
#     tool runs and names version 2.3, its man page renders without a
#     warning, and it holds nothing but the tool and the man page;
#   - the Windows ZIP (windows preset), only where the MinGW-w64 compiler is
#     installed: it holds qzupgrade.exe and README.md and nothing else.
# Ends by listing the package files and their sizes.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(qzupgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }

fail() {
  echo "check-packages: $*" >&2
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Debian package.
cmake --preset release >/dev/null
cmake --build --preset release --target package
arch=$(dpkg --print-architecture)
deb=build-release/qzupgrade_${version}_${arch}.deb
[ -f "$deb" ] || fail "$deb was not made"

expected_files=$'./usr/bin/qzupgrade\n./usr/share/man/man1/qzupgrade.1.gz'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)
[ "$files" = "$expected_files" ] || fail "$deb holds other files than the tool and its man page: $files"
depends=$(dpkg-deb -f "$deb" Depends)
for runtime in libc6 libstdc++6; do
  [[ ",$depends" == *", $runtime"* || ",$depends" == *",$runtime"* ]] || fail "Depends lacks $runtime: $depends"
done

root=$scratch/root
dpkg -x "$deb" "$root"
# Without --version the tool prints its banner and usage and ends with 105;
# either way the text names the version.
out=$("$root/usr/bin/qzupgrade" --version 2>&1) || true
grep -q "2\.3" <<<"$out" || fail "qzupgrade --version does not name 2.3: $out"

if ! command -v man >/dev/null; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends man-db
fi
page=$root/usr/share/man/man1/qzupgrade.1.gz
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
rendered=$(MANWIDTH=80 man -l -P cat "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" <<<"$rendered" || fail "man page has no $section section"
done
echo "Debian package: $deb (Depends: $depends)"
echo "  qzupgrade --version: $(grep -m1 "2\.3" <<<"$out")"

packages=("$deb")

# Windows ZIP.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  zip=build-windows/qzupgrade-${version}-win64.zip
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target package
  [ -f "$zip" ] || fail "$zip was not made"
  entries=$(cmake -E tar tf "$zip" | LC_ALL=C sort)
  [ "$entries" = $'README.md\nqzupgrade.exe' ] || fail "$zip holds other files than qzupgrade.exe and README.md: $entries"
  packages+=("$zip")
else
  echo "No x86_64-w64-mingw32-g++-posix: the Windows ZIP is not built."
fi

echo "Packages:"
for p in "${packages[@]}"; do
  printf '  %s  %s bytes\n' "$p" "$(stat -c %s "$p")"
done
