#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test:
#   1. the whole suite (unit, end-to-end against the simulators, GUI on the offscreen platform,
#      fuzz corpus replays);
#   2. each fuzz target for a short fixed time under libFuzzer (clang, ASan+UBSan);
#   3. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. the link, window and command-line tests under ThreadSanitizer;
#   5. the Debian package: made, unpacked into a scratch root and checked there; beside it
#      km27ctl-VERSION-win64.zip, km27ctl.exe cross-built in build-win;
#   6. that Windows build under wine: the model, file and link tests, and km27ctl.exe end to
#      end against the simulators through the Linux suite's own command-line tests.
# KM27_TEST_STAGES picks stages (e.g. "1" for a quick run); default: all of them.
# KM27_FUZZ_RUNS runs each fuzz target for that many executions instead of KM27_FUZZ_SECONDS.
# KM27_BUILD_DIR, KM27_FUZZ_BUILD_DIR, KM27_ASAN_BUILD_DIR, KM27_TSAN_BUILD_DIR,
# KM27_WIN_BUILD_DIR move the builds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
stages=${KM27_TEST_STAGES:-123456}
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

"$here/scripts/setup-debian.sh"

# Each stage says how long it took: the whole command must stay well inside CI's time.
started=$SECONDS
stage() {
  [ "${current:-}" ] && echo "== stage $current took $((SECONDS - started)) s"
  current=$1 started=$SECONDS
  case "$stages" in *"$1"*) return 0 ;; *) current= ; return 1 ;; esac
}
configure_build() {  # dir, cmake args... [-- build targets...]
  local dir=$1; shift
  local args=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do args+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; targets=(--target "$@"); fi
  cmake -S "$here" -B "$dir" -G Ninja "${args[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}
# The sanitizer builds: light optimisation and line tables only. They build in half the time of
# a full debug-info build, and the reports still name files and lines.
sanitized=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" -DKM27_BUILD_BENCH=OFF)

if stage 1; then
  echo "== stage 1: whole suite"
  build=${KM27_BUILD_DIR:-$here/build}
  configure_build "$build"
  (cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 300)
fi

if stage 2; then
  if [ -n "${KM27_FUZZ_RUNS:-}" ]; then limit=-runs=$KM27_FUZZ_RUNS; else limit=-max_total_time=${KM27_FUZZ_SECONDS:-15}; fi
  echo "== stage 2: fuzz targets, ${limit#-} each"
  fuzzbuild=${KM27_FUZZ_BUILD_DIR:-$here/build-fuzz}
  CXX=clang++ configure_build "$fuzzbuild" -DKM27_FUZZ=ON -DKM27_SANITIZE=fuzzer-no-link,address,undefined \
    -DKM27_BUILD_GUI=OFF -DKM27_BUILD_TESTS=OFF -DKM27_BUILD_BENCH=OFF
  for target in "$fuzzbuild"/fuzz/*_fuzz; do
    name=$(basename "$target" _fuzz)
    work=$(mktemp -d)
    cp -r "$here/fuzz/corpus/$name/." "$work/"
    status=0
    "$target" "$limit" -print_final_stats=1 "$work" >"$work.log" 2>&1 || status=$?
    echo "$name: $(grep -E 'stat::number_of_executed_units' "$work.log" || true) $(grep -E 'stat::average_exec_per_sec' "$work.log" || true)"
    if [ "$status" -ne 0 ]; then tail -n 40 "$work.log"; exit "$status"; fi
    rm -rf "$work" "$work.log"
  done
fi

if stage 3; then
  echo "== stage 3: whole suite under AddressSanitizer + UndefinedBehaviorSanitizer"
  asan=${KM27_ASAN_BUILD_DIR:-$here/build-asan}
  configure_build "$asan" -DKM27_SANITIZE=address,undefined "${sanitized[@]}"
  (cd "$asan" && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$here/tests/lsan.supp \
     UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j "$jobs" --timeout 600)
fi

if stage 4; then
  echo "== stage 4: port, link, window and command-line tests under ThreadSanitizer"
  tsan=${KM27_TSAN_BUILD_DIR:-$here/build-tsan}
  configure_build "$tsan" -DKM27_SANITIZE=thread "${sanitized[@]}" \
    -- port_tests link_tests ui_tests sim_tests ctl_tests
  (cd "$tsan" && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/tests/tsan.supp" \
     ctest --output-on-failure -j "$jobs" --timeout 600 -L 'port|link|ui|sim|ctl')
fi
if stage 5; then
  echo "== stage 5: the Debian package"
  "$here/scripts/check-package.sh" "${KM27_BUILD_DIR:-$here/build}"
fi
if stage 6; then
  echo "== stage 6: the Windows build under wine"
  win=${KM27_WIN_BUILD_DIR:-$here/build-win}
  build=${KM27_BUILD_DIR:-$here/build}
  configure_build "$win" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake"
  (cd "$win" && ctest --output-on-failure -j "$jobs" --timeout 300)
  configure_build "$build" -- ctl_tests
  # Download with verification and a mismatch, every difference, the transfer log and diff,
  # upload, a line unplugged and Ctrl+C, each for both models. Wine gives a second opener of a port no refusal and a pty no modem lines: the
  # tests of claims and terminals stay on Linux.
  KM27_CTL_WINDOWS="$win/wine-run $win/km27ctl.exe" "$build/tests/ctl_tests" \
    --gtest_filter='CtlTransfer.ACleanDownload*:CtlTransfer.AByteStoredWrongly*:CtlTransfer.UploadWrites*:CtlTransfer.ALineUnplugged*:CtlTransfer.EveryDifference*:CtlInterrupt.*'
  "$win/wine-run" "$win/km27ctl.exe" --version
  WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true  # no server left behind
fi
stage end || true  # the last stage's time
echo "all test stages passed"
