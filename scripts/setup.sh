# Sourced by ./run, ./test and ./bench: installs the Debian packages the build needs when missing.
packages=(cmake make g++ g++-mingw-w64-x86-64 libsimpleini-dev googletest libgtest-dev locales
          libgmock-dev libbenchmark-dev wine64 clang libclang-rt-14-dev clang-format clang-tidy
          valgrind zip python3 nlohmann-json3-dev)

# Installs the packages named, or the list above when none are.
install_missing_packages() {
  local wanted=("$@") missing=()
  [ ${#wanted[@]} -gt 0 ] || wanted=("${packages[@]}")
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# Compiler warnings in our own code are errors, in CI and locally alike; WARNINGS_AS_ERRORS=OFF
# in the environment makes them warnings again for a build of one's own (./test, ./run).
warnings_as_errors=${WARNINGS_AS_ERRORS:-ON}

configure_native() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
}

build_native() {
  configure_native
  cmake --build build -j"$(nproc)"
}

# One of ./run, ./test and ./bench at a time in a checkout: each builds in build/ and runs what it
# built (the end-to-end tests copy game-sim.exe from build/windows; one copied while a build was
# writing it made Wine exit with 1 and say nothing), and ./run writes out/ and dist/. A second
# one waits for the first, saying so. The lock is held by a helper that ends with the caller's
# process (through an exec too, as ./run --soak's): held by the caller itself, it would pass to
# Wine's server, which outlives the run by seconds. The helper looks for the caller's end 20 times
# a second and lets go a moment after it, when the next command may already be asking: a command
# says it waits only when the lock stays taken for a second.
take_turn() {
  # Taken already for this checkout by the command that started this one (.ci/run's ./test).
  [ "${CHECKOUT_TURN_TAKEN:-}" != "$PWD" ] || return 0
  mkdir -p out
  flock -w 1 out/run.lock true ||
    echo "$1: another ./run, ./test or ./bench is running in $PWD; this one waits for it to end" >&2
  # Deaf to Ctrl-C, which reaches the whole process group, so that it lets go only when the
  # caller has ended: Ctrl-C is ignored while it starts, and the caller's handling put back.
  local on_interrupt
  on_interrupt=$(trap -p INT)
  trap '' INT
  coproc turn {
    # Its output off the pipe, which the caller's exec closes: tail ends when its reader goes.
    flock -o out/run.lock sh -c 'echo held; exec tail --pid="$1" -s 0.05 -f /dev/null >/dev/null' \
      _ $$
  }
  eval "${on_interrupt:-trap - INT}"
  read -r _ <&"${turn[0]}" || { echo "$1: cannot lock $PWD/out/run.lock" >&2; exit 2; }
  export CHECKOUT_TURN_TAKEN=$PWD
}

# Ctrl-C ends ./run, ./test, ./bench and .ci/run with 130 and "TOOL: interrupted", whatever step
# it was in. Without a trap, bash ends on SIGINT only when the command it waits for was killed by
# it; cmake, make and ctest catch it, clean up and exit with a status of their own, and the script
# went on as after a failure. With one, bash runs it as soon as that command has ended. A cleanup
# function, when given, runs first. The line goes to the tool's own standard error, kept aside (the
# trap may run inside a command whose output goes to a log; bash keeps the copy from programs).
end_on_interrupt() {
  interrupted_tool=$1 interrupted_cleanup=${2:-}
  exec {interrupted_stderr}>&2
  trap interrupted INT
}
interrupted() {
  trap '' INT  # a second Ctrl-C does not cut the cleanup short
  [ -z "$interrupted_cleanup" ] || "$interrupted_cleanup" 2>&"$interrupted_stderr"
  echo "$interrupted_tool: interrupted" >&"$interrupted_stderr"
  exit 130
}

# Wine for the Windows builds, in a prefix of our own (build/wineprefix unless given), created
# on first use.
wine=/usr/lib/wine/wine64
use_wine_prefix() {
  export WINEPREFIX="${1:-$PWD/build/wineprefix}" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -d "$WINEPREFIX" ]; then
    echo "Creating the Wine prefix in $WINEPREFIX (first run only, about 10 s)..."
    "$wine" wineboot --init >/dev/null 2>&1
  fi
}

# The benchmarks and the instruction-count driver, in the Release build; only what they need.
build_benchmarks() {
  configure_native
  cmake --build build -j"$(nproc)" --target tick_bench pass_driver
}

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer, with clang.
build_sanitized() {
  local flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all"
  flags+=" -fno-omit-frame-pointer -g -O1"
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DBUILD_WINDOWS_PLUGIN=OFF -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  # Only what the stage runs: the unit tests, the capture flavour's with them.
  cmake --build build-sanitize -j"$(nproc)" --target unit_tests capture_tests
}

# The libFuzzer targets, instrumented with the same sanitizers (clang only).
build_fuzz() {
  cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DFUZZ=ON \
    -DBUILD_WINDOWS_PLUGIN=OFF -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  cmake --build build-fuzz -j"$(nproc)" --target fuzz_targets
}

# Runs each fuzz target (or only those named after the time) for a bounded time (seconds, default
# 20) on a copy of its committed seed corpus, so that the runs never grow fuzz/corpus; any crash,
# leak or broken property fails.
run_fuzz() {
  local seconds=${1:-20}
  shift || true
  local targets=("$@")
  [ ${#targets[@]} -gt 0 ] || targets=(settings accuracy pass capture)
  local target
  for target in "${targets[@]}"; do
    local work=build-fuzz/runs/$target
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/crashes"
    cp fuzz/corpus/"$target"/* "$work/corpus/"
    echo "Fuzzing $target for ${seconds}s"
    build-fuzz/fuzz/"${target}"_fuzz -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/log" 2>&1 ||
      { tail -n 60 "$work/log"; echo "fuzz target $target failed; inputs in $work/crashes"; return 1; }
    grep -E '^Done|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/log"
    grep -E 'DONE' "$work/log" | tail -n 1
  done
}

# The unit tests cross-built for 64-bit Arm Linux and run under qemu-user, a stage of .ci/run
# (./test stays quick). The Arm C and C++ run-times come with the cross compiler.
arm64_packages=(g++-aarch64-linux-gnu qemu-user)
on_arm64() { qemu-aarch64 -L /usr/aarch64-linux-gnu "$@"; }

# build-arm64/: the unit tests and the two programs whose output is compared with the native
# build's; GoogleTest is compiled there from Debian's sources.
build_arm64() {
  cmake --preset arm64 -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  cmake --build build-arm64 -j"$(nproc)" --target unit_tests tuning-chart sim-native
}

# The accuracy arithmetic gives the same bits on every machine: every point of the tuning chart
# (a shooter per point) and every accuracy and label of a crowd of 5,000 peds, as the Arm build
# prints them, must be what the native build prints, and so must the settings file and log the
# plug-in writes in the crowd's folder. The crowd's report names the plug-in's entry points by
# address, which differs from build to build and is left out.
compare_arm64_with_native() {
  local top=$PWD out=build-arm64/compared crowd=(--crowd 5000 --frames 1)
  local addresses='s/(entry|handler) 0x[0-9A-F]+/\1 (address)/'
  rm -rf "$out"
  mkdir -p "$out/native" "$out/arm64"
  { configure_native && cmake --build build -j"$(nproc)" --target tuning-chart sim-native; } \
    >/dev/null || { echo "arm64: the native tuning-chart and sim-native did not build"; return 1; }
  build/tuning-chart --data "$out/native/chart.tsv" &&
    on_arm64 build-arm64/tuning-chart --data "$out/arm64/chart.tsv" &&
    (cd "$out/native" && "$top/build/sim-native" "${crowd[@]}") | sed -E "$addresses" \
      >"$out/native/crowd.txt" &&
    (cd "$out/arm64" && on_arm64 "$top/build-arm64/sim-native" "${crowd[@]}") |
    sed -E "$addresses" >"$out/arm64/crowd.txt" ||
    { echo "arm64: tuning-chart or sim-native failed"; return 1; }
  if ! diff -r "$out/native" "$out/arm64" >"$out/differences"; then
    head -n 30 "$out/differences"
    echo "arm64: the Arm build's results differ from the native build's (all in $out/differences)"
    return 1
  fi
  echo "arm64: bit-identical to the native $(uname -m) build:" \
       "$(($(wc -l <"$out/native/chart.tsv") - 1)) tuning-chart points and the accuracies and" \
       "labels of ${crowd[1]} crowd peds"
}

# Builds the Arm unit tests, runs them under qemu and compares the Arm build's results with the
# native one's; says plainly what built and passed, with the count, and how long it took. Leaves
# the stage's counts in arm64_passed and arm64_failed (each unit test and the comparison count
# one; a build that failed counts one failure) and what failed in arm64_failures.
run_arm64_tests() {
  local start=$SECONDS log=build-arm64/unit_tests.log status ran passed
  arm64_passed=0 arm64_failed=0 arm64_failures=()
  install_missing_packages "${packages[@]}" "${arm64_packages[@]}" ||
    { arm64_failed=1 arm64_failures=("arm64: installing the cross compiler and qemu"); return 1; }
  echo "arm64: building the unit tests with aarch64-linux-gnu-g++ in build-arm64/"
  build_arm64 || {
    echo "arm64: FAILED: the unit tests did not build"
    arm64_failed=1 arm64_failures=("arm64: the unit tests did not build (see above)")
    return 1
  }
  on_arm64 build-arm64/tests/unit_tests --gtest_brief=1 >"$log" 2>&1
  status=$?
  ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$log")
  passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log")
  if [ "$status" -ne 0 ] || [ -z "$ran" ] || [ "${passed:-0}" != "$ran" ]; then
    cat "$log"
    echo "arm64: FAILED: the unit tests under qemu-aarch64 (exit status $status; $log)"
    arm64_passed=${passed:-0}
    arm64_failed=$((${ran:-1} - ${passed:-0}))
    [ "$arm64_failed" -gt 0 ] || arm64_failed=1
    mapfile -t arm64_failures < <(sed -nE 's/^\[  FAILED  \] ([^ ]+\.[^ ]+).*/arm64: \1/p' "$log" |
                                  sort -u)
    [ ${#arm64_failures[@]} -gt 0 ] ||
      arm64_failures=("arm64: the unit tests under qemu-aarch64 (exit status $status; $log)")
    return 1
  fi
  arm64_passed=$passed
  echo "arm64: $passed unit tests built for aarch64 and passed under qemu-aarch64"
  if ! compare_arm64_with_native; then
    echo "arm64: FAILED: comparing with the native build"
    arm64_failed=1 arm64_failures=("arm64: the Arm build's results differ from the native build's")
    return 1
  fi
  arm64_passed=$((arm64_passed + 1))
  echo "arm64: stage took $((SECONDS - start)) s"
}
