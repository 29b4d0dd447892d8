#!/usr/bin/env bash
# Builds the program again from a copy of the sources in another folder and checks that the
# result is identical, byte for byte, to the program under test.
# Usage: reproducible.sh SOURCE_DIR TOOLCHAIN_FILE LAUNCHER_NAME PROGRAM
set -euo pipefail
source_dir=$1 toolchain=$2 name=$3 program=$4
copy=$(mktemp -d /tmp/quorvel-reproducible.XXXXXX)
trap 'rm -rf "$copy"' EXIT
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$copy")
else
  (cd "$source_dir" && tar --exclude=./build --exclude=./dist -cf - .) | tar -C "$copy" -xf -
fi
cmake -S "$copy" -B "$copy/elsewhere" -DCMAKE_TOOLCHAIN_FILE="$copy/${toolchain#"$source_dir"/}" \
  -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_NAME="$name" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$copy/elsewhere" --target "$name" >/dev/null
if cmp "$program" "$copy/elsewhere/$name.exe"; then
  echo "$name.exe built in $copy/elsewhere is identical: $(sha256sum <"$program" | cut -c1-64)"
else
  echo "$name.exe differs between the two builds" >&2
  exit 1
fi
