#!/usr/bin/env bash
# Builds the release packages and checks what a user gets from them:
#   - the Debian package (release preset: the tool alone): it holds the tool,
#     its man page, the udev rules, the bash completion, the copyright file
#     and the changelog, and nothing else; lintian finds no error or warning,
#     and each tag it still reports is named in the README; unpacked into a
#     scratch root, its tool prints its version, its man page renders without
#     a warning, its udev rules give the FT232H and the USB Billboard device
#     at the tool's default IDs to plugdev and the seat's user, and its
#     completion, loaded in bash, completes options, --ftdi-lib values, image
#     files and the stand-in D2XX library's board serial numbers;
#   - the long options of --help, the man page and the README are the same;
#   - the Windows ZIP (windows preset), only where the MinGW-w64 compiler is
#     installed: it holds qzupgrade.exe, the man page as text, README.md and
#     LICENSE.txt, and the executable's version resource and manifest read
#     back as the project version says.
# Ends by listing the package files and their sizes.
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(qzupgrade VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }

fail() {
  echo "check-packages: $*" >&2
  exit 1
}

# need PACKAGE COMMAND_OR_FILE: installs the package where neither is found.
need() {
  command -v "$2" >/dev/null || [ -e "$2" ] && return
  local sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "$1"
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Debian package.
cmake --preset release >/dev/null
cmake --build --preset release --target package
arch=$(dpkg --print-architecture)
deb=build-release/qzupgrade_${version}_${arch}.deb
[ -f "$deb" ] || fail "$deb was not made"

expected_files="./usr/bin/qzupgrade
./usr/lib/udev/rules.d/60-qzupgrade.rules
./usr/share/bash-completion/completions/qzupgrade
./usr/share/doc/qzupgrade/changelog.gz
./usr/share/doc/qzupgrade/copyright
./usr/share/man/man1/qzupgrade.1.gz"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)
[ "$files" = "$expected_files" ] || fail "$deb holds other files than expected: $files"
depends=$(dpkg-deb -f "$deb" Depends)
for runtime in libc6 libstdc++6; do
  [[ ",$depends" == *", $runtime"* || ",$depends" == *",$runtime"* ]] || fail "Depends lacks $runtime: $depends"
done

need lintian lintian
if ! lint=$(lintian -I --fail-on error,warning "$deb" 2>&1); then
  fail "lintian reports errors or warnings: $lint"
fi
lint=$(grep '^[EWI]: ' <<<"$lint" || true)
for tag in $(awk '{print $3}' <<<"$lint" | sort -u); do
  grep -qF "\`$tag\`" README.md || fail "lintian tag $tag is not named in the README: $lint"
done

root=$scratch/root
dpkg -x "$deb" "$root"
out=$("$root/usr/bin/qzupgrade" --version 2>&1) || fail "qzupgrade --version failed: $out"
[ "$out" = "qzupgrade $version" ] || fail "qzupgrade --version prints '$out', not 'qzupgrade $version'"
zcat "$root/usr/share/doc/qzupgrade/changelog.gz" | head -1 | grep -q "^qzupgrade ($version) " ||
  fail "the changelog's latest entry is not version $version"

need man-db man
page=$root/usr/share/man/man1/qzupgrade.1.gz
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
rendered=$(MANWIDTH=80 man -l -P cat "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
  grep -q "^$section" <<<"$rendered" || fail "man page has no $section section"
done

bash scripts/check-options.sh "$root/usr/bin/qzupgrade" "$page" README.md

# The udev rules cover the FT232H and the Billboard device at the vendor and
# product IDs the tool accepts by default (src/link/link_settings.h).
settings=src/link/link_settings.h
default_id() { sed -n "s/.*$1 = 0x\([0-9A-Fa-f]\{4\}\);.*/\1/p" "$settings" | tr A-F a-f; }
svid=$(default_id kUnsetSvid) pid=$(default_id 'int pid') alt_pid=$(default_id 'int alt_pid')
[ -n "$svid" ] && [ -n "$pid" ] && [ -n "$alt_pid" ] || fail "no default USB IDs found in $settings"
rules=$root/usr/lib/udev/rules.d/60-qzupgrade.rules
for id in 0403:6014 "$svid:$pid" "$svid:$alt_pid"; do
  grep '^SUBSYSTEM=="usb",' "$rules" | grep -F "ATTR{idVendor}==\"${id%:*}\", ATTR{idProduct}==\"${id#*:}\"" |
    grep -F 'GROUP="plugdev"' | grep -qF 'TAG+="uaccess"' || fail "$rules gives no access to $id"
done

# The completion, run as bash-completion runs it, lists the boards through
# the D2XX stand-in and the chip folder's ftdi.txt.
need bash-completion /usr/share/bash-completion/bash_completion
cmake --preset ci >/dev/null
cmake --build --preset ci --target qzsim_ftd2xx >/dev/null
mkdir -p "$scratch/chip" "$scratch/images/folder"
printf 'board 0x11 serial FTA\nboard 0x22 serial FTB open\n' >"$scratch/chip/ftdi.txt"
touch "$scratch/images/fw.hex" "$scratch/images/FW.BIN" "$scratch/images/notes.txt"
stand_ins=$PWD/build-ci/bin
complete_words() {
  (cd "$scratch/images" &&
    PATH=$root/usr/bin:$PATH LD_LIBRARY_PATH=$stand_ins QZSIM_CHIP=$scratch/chip \
      bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"; shift
        function=$(complete -p qzupgrade | sed -n "s/.* -F \([^ ]*\) .*/\1/p")
        COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE}
        "$function" qzupgrade "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$root/usr/share/bash-completion/completions/qzupgrade" "$@" |
    LC_ALL=C sort | tr '\n' ' ')
}
check_completion() {
  local expected=$1
  shift
  local got
  got=$(complete_words "$@")
  [ "$got" = "$expected" ] || fail "completion of '$*' gives '$got', not '$expected'"
}
check_completion "--ftdi-lib " qzupgrade --ftd
check_completion "FTA FTB " qzupgrade -F --serial ''
check_completion "d2xx libftdi " qzupgrade -F --ftdi-lib ''
check_completion "FW.BIN folder fw.hex " qzupgrade -A0xF4 -U ''
echo "Debian package: $deb (Depends: $depends)"
echo "  qzupgrade --version: $out"
echo "  lintian, no error or warning; informational tags named in the README:"
echo "${lint:-none}" | sed 's/^/    /'

packages=("$deb")

# Windows ZIP.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  zip=build-windows/qzupgrade-${version}-win64.zip
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target package
  [ -f "$zip" ] || fail "$zip was not made"
  entries=$(cmake -E tar tf "$zip" | LC_ALL=C sort)
  [ "$entries" = $'LICENSE.txt\nREADME.md\nqzupgrade.exe\nqzupgrade.txt' ] ||
    fail "$zip holds other files than qzupgrade.exe, qzupgrade.txt, README.md and LICENSE.txt: $entries"
  (cd "$scratch" && cmake -E tar xf "$OLDPWD/$zip" qzupgrade.exe qzupgrade.txt)
  grep -q -- '--ftdi-lib' "$scratch/qzupgrade.txt" || fail "qzupgrade.txt is not the man page as text"

  need icoutils wrestool
  exe=$scratch/qzupgrade.exe
  resource=$scratch/version.res
  wrestool -x --raw --type=16 "$exe" >"$resource" || fail "qzupgrade.exe has no version resource"
  IFS=. read -r major minor patch <<<"$version"
  # VS_FIXEDFILEINFO: its signature, the structure version, then the file
  # version's high and low 32 bits.
  fixed=$(od -A n -t x4 -v "$resource" | tr -s ' ' '\n' |
    awk '$0 == "feef04bd" { getline; getline high; getline low; print high, low; exit }')
  [ "$fixed" = "$(printf '%04x%04x %04x0000' "$major" "$minor" "$patch")" ] ||
    fail "qzupgrade.exe's fixed file version is '$fixed', not $version.0"
  # The StringFileInfo strings, UTF-16: each key is followed by its value.
  value_of() { strings -el "$resource" | awk -v key="$1" 'previous == key { print; exit } { previous = $0 }'; }
  for key in FileVersion ProductVersion; do
    [ "$(value_of "$key")" = "$version" ] || fail "qzupgrade.exe's $key is '$(value_of "$key")', not $version"
  done
  [ "$(value_of ProductName)" = qzupgrade ] || fail "qzupgrade.exe's ProductName is '$(value_of ProductName)'"
  [ -n "$(value_of FileDescription)" ] || fail "qzupgrade.exe has no FileDescription"
  manifest=$(wrestool -x --raw --type=24 --name=1 "$exe") || fail "qzupgrade.exe has no manifest"
  grep -q '<supportedOS Id=' <<<"$manifest" || fail "the manifest names no supportedOS"
  grep -q '<longPathAware[^>]*>true</longPathAware>' <<<"$manifest" || fail "the manifest is not longPathAware"
  echo "Windows ZIP: $zip"
  echo "  qzupgrade.exe: FileVersion $(value_of FileVersion), $(value_of FileDescription)"
  packages+=("$zip")
else
  echo "No x86_64-w64-mingw32-g++-posix: the Windows ZIP is not built."
fi

echo "Packages:"
for p in "${packages[@]}"; do
  printf '  %s  %s bytes\n' "$p" "$(stat -c %s "$p")"
done
