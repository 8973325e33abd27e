#!/usr/bin/env bash
# Builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs every test against it:
# the C++ unit tests with leak checking (all allocations there are ours), then the Python
# suite with the ASan runtime preloaded into the (uninstrumented) interpreter. The
# interpreter's own allocations are still alive at exit, so leak checking is off for that run;
# tests/test_hardening.py checks references and memory growth of the module itself.
#   tools/sanitize.sh [pytest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python3}
cmake --preset asan -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
cmake --build --preset asan
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ASAN_OPTIONS=detect_leaks=1 ctest --preset asan
# The package from the source tree with this build's _kernels module inside it.
rm -rf build/asan/pkg && mkdir -p build/asan/pkg && cp -r python/tazmir build/asan/pkg/
ln -s "$PWD"/build/asan/_kernels*.so build/asan/pkg/tazmir/
# libstdc++ is preloaded too: ASan's exception interceptor needs it loaded before it starts.
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  PYTHONPATH=build/asan:build/asan/pkg "$python" -m pytest -p no:cacheprovider \
  --deselect tests/test_cpp_units.py "$@"
