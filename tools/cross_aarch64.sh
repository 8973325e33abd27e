#!/usr/bin/env bash
# Cross-builds the C++ library and its unit tests for aarch64 Linux and runs them under
# qemu-user: the portable (non-x86) paths must build and give the results the tests pin.
# Needs Debian's g++-aarch64-linux-gnu, qemu-user and libgtest-dev (GoogleTest's sources in
# /usr/src/googletest are built for aarch64 here). Not part of CI.
#   tools/cross_aarch64.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/aarch64
sysroot=/usr/aarch64-linux-gnu
cross=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64
       -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc
       -DCMAKE_FIND_ROOT_PATH="$sysroot" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER)
if command -v ninja >/dev/null; then cross+=(-G Ninja); fi

# GoogleTest for aarch64, installed into the build tree.
if [ ! -f "$build/gtest/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$build/gtest-build" "${cross[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$build/gtest" >/dev/null
  cmake --build "$build/gtest-build" --parallel 2
  cmake --install "$build/gtest-build" >/dev/null
fi

cmake -S . -B "$build/tazmir" "${cross[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DTAZMIR_PYTHON=OFF -DTAZMIR_TESTS=ON -DTAZMIR_WERROR=ON \
  -DCMAKE_PREFIX_PATH="$PWD/$build/gtest" -DGTest_ROOT="$PWD/$build/gtest" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-aarch64;-L;$sysroot" >/dev/null
cmake --build "$build/tazmir" --parallel 2
file "$build/tazmir/tazmir_cpp_tests" | grep -q aarch64
ctest --test-dir "$build/tazmir" --output-on-failure "$@"
