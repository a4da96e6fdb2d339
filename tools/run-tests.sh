#!/usr/bin/env bash
# Sets everything up and runs every test: the optimised build and its test
# suite, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the migration and compaction tests under ThreadSanitizer, the fuzz targets
# under libFuzzer for a bounded time, then the Windows build (MinGW-w64), its
# tests under Wine, the installer's calls end to end under Wine
# (tools/wine-installer-check.sh) and the release archive
# (tools/package-windows.sh). Exits non-zero when any stage fails. Prints how
# long each stage took.
#
#   tools/run-tests.sh [--no-setup] [--no-sanitize] [--no-fuzz] [--no-windows]
#
# Environment: MAQUETOR_BUILD_DIR (default build; the other builds go to
# <dir>-sanitize, <dir>-thread, <dir>-fuzz and <dir>-win), JOBS (default 2),
# FUZZ_SECONDS (default 90), CTEST_ARGS (extra ctest arguments, e.g.
# "-R Oracles").
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

setup=1 sanitize=1 fuzz=1 windows=1
for arg in "$@"; do
  case "$arg" in
    --no-setup) setup=0 ;;
    --no-sanitize) sanitize=0 ;;
    --no-fuzz) fuzz=0 ;;
    --no-windows) windows=0 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "run-tests.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

build="${MAQUETOR_BUILD_DIR:-build}"
jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-90}"
read -r -a ctest_args <<<"${CTEST_ARGS:-}"

summary=()
passed=0 failed=0
stage_start=0 stage=""
begin() {
  stage="$1" stage_start=$SECONDS
  printf '\n==== %s ====\n' "$1"
}
end() {
  summary+=("$(printf '%-28s %4ds' "$1" $((SECONDS - stage_start)))")
  stage=""
}

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local dir="$1" log
  log="$(mktemp)"
  set +e
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs" "${ctest_args[@]}") 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  set -e
  local line
  line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)"
  rm -f "$log"
  if [[ -n "$line" ]]; then
    local bad total
    bad="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
    total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")"
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  return "$status"
}

finish() {
  local status=$?
  printf '\n==== timings ====\n'
  printf '%s\n' "${summary[@]}"
  printf 'total                        %4ds\n' "$SECONDS"
  if [[ -n "$stage" ]]; then printf '%-28s %4ds (stopped here)\n' "$stage" $((SECONDS - stage_start)); fi
  if [[ $status -ne 0 ]]; then echo "run-tests.sh: FAILED (exit $status)"; fi
  # One closing line over every ctest run.
  echo "tests: $passed passed, $failed failed"
  exit "$status"
}
trap finish EXIT

if ((setup)); then
  begin "setup"
  tools/setup.sh
  end "setup"
fi

begin "build ($build)"
cmake -S . -B "$build" -DMAQUETOR_SANITIZE=OFF -DMAQUETOR_TESTS=ON -DMAQUETOR_BENCH=ON -DMAQUETOR_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs"
end "build"

begin "tests"
run_ctest "$build"
end "tests"

if ((sanitize)); then
  begin "sanitizer build ($build-sanitize)"
  # -O1 keeps the instrumented suite quick; assertions stay on.
  cmake -S . -B "$build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DMAQUETOR_SANITIZE=ON -DMAQUETOR_TESTS=ON -DMAQUETOR_BENCH=OFF -DMAQUETOR_FUZZ=ON >/dev/null
  cmake --build "$build-sanitize" -j "$jobs"
  end "sanitizer build"

  begin "sanitizer tests"
  # The suppressions name only system libraries the desktop window loads.
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:suppressions=$root/tools/sanitizer.supp}" \
  LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tools/leak.supp:print_suppressions=0}" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    run_ctest "$build-sanitize"
  end "sanitizer tests"

  # Migration and compaction read origin rows on a second thread: their
  # tests run once more under ThreadSanitizer (compaction's through the
  # ThreadSanitizer build of maquetor, which the app tests run).
  begin "thread sanitizer build ($build-thread)"
  cmake -S . -B "$build-thread" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DMAQUETOR_TSAN=ON -DMAQUETOR_TESTS=ON -DMAQUETOR_BENCH=OFF -DMAQUETOR_FUZZ=OFF >/dev/null
  cmake --build "$build-thread" -j "$jobs" --target migrate_tests app_tests
  end "thread sanitizer build"

  begin "thread sanitizer tests"
  TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}" \
    "$build-thread/tests/migrate_tests" </dev/null
  TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}" \
    "$build-thread/tests/app_tests" --gtest_filter='CompactCommandTest.*' </dev/null
  end "thread sanitizer tests"
fi

if ((fuzz)); then
  begin "fuzz build ($build-fuzz)"
  cmake -S . -B "$build-fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMAQUETOR_SANITIZE=ON -DMAQUETOR_TESTS=OFF -DMAQUETOR_BENCH=OFF -DMAQUETOR_FUZZ=ON >/dev/null
  targets=()
  for src in fuzz/*_fuzz.cpp; do
    [[ -e "$src" ]] && targets+=("$(basename "$src" .cpp)")
  done
  if ((${#targets[@]} == 0)); then
    echo "no fuzz targets" >&2
    exit 1
  fi
  cmake --build "$build-fuzz" -j "$jobs" --target "${targets[@]}"
  end "fuzz build"

  fixtures="$root/../shared/fixtures"
  for target in "${targets[@]}"; do
    begin "fuzz $target (${fuzz_seconds}s)"
    corpus="$build-fuzz/corpus/$target"
    artifacts="$build-fuzz/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    seeds=0
    if [[ -d "$fixtures" ]]; then
      while IFS= read -r -d '' f; do
        install -m 644 "$f" "$corpus/seed-$(basename "$(dirname "$f")")-$(basename "$f")"
        seeds=$((seeds + 1))
      done < <(find "$fixtures" -type f -name '*.mdb' -print0)
    elif [[ "${CI:-}" == true ]]; then
      echo "fixtures folder missing under CI: $fixtures" >&2
      exit 1
    fi
    extra=()
    [[ -d "fuzz/regressions/$target" ]] && extra+=("fuzz/regressions/$target")
    echo "corpus: $seeds fixture files${extra:+ and ${extra[*]}}"
    # Memory and per-input limits turn leaks and hangs into failures; a crash
    # leaves its input in $artifacts and fails the run.
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
      "$build-fuzz/fuzz/$target" "$corpus" "${extra[@]}" \
      -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4194304 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 </dev/null
    end "fuzz $target"
  done
fi

if ((windows)); then
  begin "windows build ($build-win)"
  # Release: no debug information to write and link for eleven executables.
  cmake -S . -B "$build-win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DMAQUETOR_TESTS=ON >/dev/null
  cmake --build "$build-win" -j "$jobs"
  # One executable, and nothing but the system's own DLLs beside it.
  dlls="$(x86_64-w64-mingw32-objdump -p "$build-win/maquetor.exe" | sed -n 's/.*DLL Name: //p' | sort -u)"
  echo "maquetor.exe imports: $(echo $dlls)"
  unexpected="$(grep -viE '^(kernel32|advapi32|shell32|user32|gdi32|msvcrt|ws2_32|ole32|comdlg32|comctl32)\.dll$' <<<"$dlls" || true)"
  if [[ -n "$unexpected" ]]; then
    echo "maquetor.exe needs DLLs that Windows does not ship: $unexpected" >&2
    exit 1
  fi
  end "windows build"

  begin "windows tests (Wine)"
  windows_status=0
  run_ctest "$build-win" || windows_status=$?
  # The window's pictures (tests/win32) as PNG beside the BMPs, for looking
  # at, failures or not.
  if command -v convert >/dev/null; then
    for picture in "$build-win"/screenshots/*.bmp; do
      if [[ -f "$picture" ]] && ! convert "$picture" "${picture%.bmp}.png"; then
        echo "run-tests.sh: no PNG made of $picture (the BMP stays)" >&2
      fi
    done
  fi
  ((windows_status == 0)) || exit "$windows_status"
  end "windows tests"

  # The installer's own lines through launch.exe in a fresh Wine prefix,
  # every file compared with what the Linux build writes for them.
  begin "windows installer check (Wine)"
  if tools/wine-installer-check.sh "$build" "$build-win"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    exit 1
  fi
  end "windows installer check"

  begin "windows package"
  tools/package-windows.sh "$build-win"
  version="$(sed -n 's/^project(maquetor VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)"
  archive="dist/maquetor-$version-win64.zip"
  want="$(printf "maquetor-$version-win64/%s\n" '' maquetor.exe README.txt licenses/ \
    licenses/libstdc++.txt licenses/libgcc.txt licenses/mingw-w64-runtime.txt \
    licenses/CLI11.txt licenses/nlohmann-json.txt | sort)"
  if ! diff -u <(echo "$want") <(unzip -Z1 "$archive" | sort); then
    failed=$((failed + 1))
    echo "$archive: not the files a release holds (above: - expected, + found)" >&2
    exit 1
  fi
  # The archive's own executable runs and says the archive's version.
  mkdir -p "$build-win/package-check"
  unzip -p "$archive" "maquetor-$version-win64/maquetor.exe" >"$build-win/package-check/maquetor.exe"
  said="$(tools/wine-run.sh "$build-win/package-check/maquetor.exe" --version | tr -d '\r')"
  if [[ "$said" != "maquetor $version" ]]; then
    failed=$((failed + 1))
    echo "the packaged maquetor.exe --version says '$said', not 'maquetor $version'" >&2
    exit 1
  fi
  passed=$((passed + 1))
  echo "$archive: the expected files; its maquetor.exe says '$said'"
  end "windows package"
fi
