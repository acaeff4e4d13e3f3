#!/usr/bin/env bash
# Runs the command lines ("    $ ...") of the manual's chapter "What a
# firmware file holds" on a binary and an ELF file, and checks with
# mirdel-cli info that each file made holds the image at the flash address
# the recipe gives, so that the manual cannot drift from the tools.
# Usage: firmware_recipes.sh MANUAL.md MIRDEL-CLI
set -euo pipefail
manual=$(realpath "$1") cli=$(realpath "$2")
for tool in srec_cat objcopy; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The inputs a user would have: 5000 bytes, and the same as an ELF file
# linked for 0x08010000.
head -c 5000 /dev/urandom >app.bin
objcopy -I binary -O elf32-little --rename-section .data=.text,alloc,load,readonly,code,contents \
  --change-addresses 0x08010000 app.bin app.elf

mapfile -t recipes < <(sed -n '/^# What a firmware file holds$/,/^# /s/^    \$ //p' "$manual")
((${#recipes[@]} >= 3)) || { echo "FAIL: recipes not found in $manual" >&2; exit 1; }
check() { # the file made last: the image at 0x10000, all 5000 bytes
  local info
  info=$("$cli" info app.srec) || { echo "FAIL after: $1" >&2; exit 1; }
  grep -q 'Image #0: "Application", Base Flash Addr: 0x10000 = 64Ki, Size: 5,000 ' <<<"$info" ||
    { echo "FAIL after: $1"$'\n'"$info" >&2; exit 1; }
}
for r in "${recipes[@]}"; do
  echo "\$ $r"
  case $r in
    mirdel-cli\ *) check "$r" ;;
    *) rm -f app.srec; eval "$r"; [[ $r == srec_cat* ]] && check "$r" ;;
  esac
done
echo "firmware recipes: ${#recipes[@]} command lines ran"
