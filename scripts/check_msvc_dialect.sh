#!/usr/bin/env bash
# A rough check, on a machine without Microsoft's compiler, that the files of the Windows build
# are in cl's dialect of C++17. Each is parsed twice by clang in its MSVC mode: against mingw-w64's
# C library and libstdc++ headers (with scripts/msvc_dialect_shim.h), and preprocessed with every
# system header left empty and neither __GNUC__ nor __clang__ defined, as cl predefines them,
# so that a GNU extension a guard lets through to cl is found. The real proof is a build with cl.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

folder=$root/build-msvc-dialect
# The files and their -D and -I options are the Windows build's own.
cmake -S . -B "$folder" --toolchain cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null

libstdcxx=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | sort -V | tail -n 1)
msvc_mode=(--target=x86_64-pc-windows-msvc -fms-compatibility -fms-extensions -std=c++17 -nostdinc)

# An empty header for each system header the tool's files include.
empty_headers=$folder/empty-system-headers
rm -rf "$empty_headers"
grep -rhoE '^#include <[^>]+>' src sim | sed -E 's/^#include <(.*)>$/\1/' | sort -u |
  while read -r header; do
    mkdir -p "$(dirname "$empty_headers/$header")"
    : >"$empty_headers/$header"
  done

failed=0
while IFS=$'\t' read -r -a unit; do
  file=${unit[0]}
  options=("${unit[@]:1}")
  clang++ "${msvc_mode[@]}" -fsyntax-only -Werror -Wall -Wextra -Wpedantic \
    -include scripts/msvc_dialect_shim.h -isystem "$libstdcxx" \
    -isystem "$libstdcxx/x86_64-w64-mingw32" -isystem "$(clang++ -print-resource-dir)/include" \
    -isystem /usr/x86_64-w64-mingw32/include "${options[@]}" "$file" || failed=1
  gnu_words=$(clang++ "${msvc_mode[@]}" -E -P -Wno-builtin-macro-redefined -U__clang__ \
      -isystem "$empty_headers" "${options[@]}" "$file" |
    grep -noE '\b(__attribute__|__builtin_[A-Za-z0-9_]+|__PRETTY_FUNCTION__|__typeof__|__extension__|__int128|__asm__)\b' |
    sort -t: -k2 -u) || true
  if [ -n "$gnu_words" ]; then
    echo "${file#"$root"/}: what cl would read holds GNU extensions: $(echo "$gnu_words" | cut -d: -f2 | sort -u | xargs)"
    failed=1
  fi
done < <(python3 - "$folder/compile_commands.json" <<'PYTHON'
import json, os, shlex, sys
for entry in json.load(open(sys.argv[1])):
    words = []
    for word in shlex.split(entry["command"]):
        if word.startswith("@"):
            with open(os.path.join(entry["directory"], word[1:])) as response_file:
                words += shlex.split(response_file.read())
        else:
            words.append(word)
    options = [word for word in words if word.startswith(("-D", "-I"))]
    print("\t".join([entry["file"]] + options))
PYTHON
)
[ "$failed" -eq 0 ] && echo "the Windows build's files parse in cl's dialect, with no GNU extension left to cl"
exit "$failed"
