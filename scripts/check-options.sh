#!/usr/bin/env bash
# Checks that every long option is documented once in each of the three
# places a user reads: the built tool's --help, the man page (a tag of its
# OPTIONS section) and the README's option tables (the first cell of a row).
#   scripts/check-options.sh TOOL [MAN_PAGE (may be gzipped)] [README]
set -euo pipefail
cd "$(dirname "$0")/.."
tool=${1:?usage: check-options.sh TOOL [MAN_PAGE] [README]}
man_page=${2:-packaging/qzupgrade.1}
readme=${3:-README.md}

long_options() { grep -o -- '--[a-z0-9][a-z0-9-]*' || true; }

# Usage lines start with the option; its description follows the colon.
help=$("$tool" --help 2>/dev/null | sed -n 's/:.*//; /^ *-/p' | long_options) || true
# The line after each .TP of the OPTIONS section, with roff's \- undone.
man=$(zcat -f "$man_page" |
  awk '/^\.SH/ { in_options = ($2 == "OPTIONS") } in_options && tag { print } { tag = in_options && /^\.TP/ }' |
  sed 's/\\-/-/g' | long_options)
readme_options=$(awk -F'|' '/^\|/ { print $2 }' "$readme" | long_options)

status=0
for source in help man readme_options; do
  duplicates=$(LC_ALL=C sort <<<"${!source}" | uniq -d)
  if [ -n "$duplicates" ]; then
    echo "check-options: listed twice in $source:" $duplicates >&2
    status=1
  fi
done
all=$(printf '%s\n' "$help" "$man" "$readme_options" | sed '/^$/d' | LC_ALL=C sort -u)
[ -n "$all" ] || { echo "check-options: no long option found anywhere" >&2; exit 1; }
for option in $all; do
  missing=()
  grep -qx -- "$option" <<<"$help" || missing+=("--help of $tool")
  grep -qx -- "$option" <<<"$man" || missing+=("$man_page")
  grep -qx -- "$option" <<<"$readme_options" || missing+=("$readme")
  if [ ${#missing[@]} -gt 0 ]; then
    echo "check-options: $option is missing from: ${missing[*]}" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "Long options, the same in --help, the man page and the README:" $all
exit $status
