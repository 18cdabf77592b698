#!/usr/bin/env bash
# Usage: scripts/check_vantorell_install.sh BUILD_DIR
#
# Installs the vantorell component of BUILD_DIR into a temporary prefix and
# checks it the way a C consumer would see it:
#   1. the C test program builds (C99, warnings as errors) from the installed
#      header, linked through pkg-config, and passes;
#   2. libvantorell.so exports exactly the four vantorell_* functions;
#   3. examples/verify.c builds the same way and answers the sample calls;
#   4. find_package(vantorell) in a small CMake project provides
#      vantorell::vantorell, and a program linked against it runs.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
c_test="$source_dir/src/vantorell/c_test/vantorell_c_test.c"
cc=${CC:-cc}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

echo "== building and installing into $prefix"
cmake --build "$build_dir" --target vantorell
cmake --install "$build_dir" --component vantorell --prefix "$prefix" >/dev/null

pc_file=$(find "$prefix" -name vantorell.pc -print -quit)
[[ -n "$pc_file" ]] || { echo "vantorell.pc not installed" >&2; exit 1; }
export PKG_CONFIG_PATH="$(dirname "$pc_file")${PKG_CONFIG_PATH:+:$PKG_CONFIG_PATH}"
libdir=$(pkg-config --variable=libdir vantorell)
[[ -f "$(pkg-config --variable=includedir vantorell)/vantorell.h" ]] ||
  { echo "vantorell.h not installed" >&2; exit 1; }

echo "== C test through pkg-config"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$c_test" -o "$work/c_test" \
  $(pkg-config --cflags --libs vantorell)
LD_LIBRARY_PATH="$libdir" "$work/c_test"

echo "== the C example through pkg-config, as the README shows it"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror "$source_dir/examples/verify.c" \
  -o "$work/verify" $(pkg-config --cflags --libs vantorell)
LD_LIBRARY_PATH="$libdir" "$work/verify" "$source_dir/examples/verify_config.yaml" \
  <"$source_dir/examples/calls.tsv" >"$work/verify.out" || [[ $? == 1 ]]
grep -q "Agent appears to be looping on tool read_file" "$work/verify.out"
sed 's/^/  /' "$work/verify.out"

echo "== exported symbols"
lib=$(readlink -f "$libdir/libvantorell.so")
exported=$(nm -D --defined-only "$lib" | awk '{print $2, $3}' | sort)
expected=$(printf 'T %s\n' vantorell_free vantorell_get_last_error vantorell_init \
  vantorell_verify | sort)
if [[ "$exported" != "$expected" ]]; then
  echo "libvantorell.so exports:" >&2
  echo "$exported" >&2
  echo "expected exactly:" >&2
  echo "$expected" >&2
  exit 1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" == libvantorell.so.* ]] || { echo "missing SONAME" >&2; exit 1; }
echo "$exported" | sed 's/^/  /'
echo "  SONAME $soname"

echo "== find_package(vantorell)"
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(vantorell_consumer C)
find_package(vantorell REQUIRED)
add_executable(c_test "$c_test")
set_target_properties(c_test PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(c_test PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_link_libraries(c_test PRIVATE vantorell::vantorell)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
"$work/consumer/build/c_test"

echo "vantorell install check: OK"
