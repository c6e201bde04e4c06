# Sourced by ./run, ./test and ./bench: installs the Debian packages the build needs when missing.
packages=(cmake make g++ g++-mingw-w64-x86-64 libsimpleini-dev googletest libgtest-dev locales
          libgmock-dev libbenchmark-dev wine64 clang libclang-rt-14-dev clang-format clang-tidy
          valgrind zip python3 nlohmann-json3-dev)

install_missing_packages() {
  local missing=()
  for package in "${packages[@]}"; do
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

# CI treats compiler warnings in our own code as errors; a local build only prints them.
warnings_as_errors=$([ -n "${CI:-}" ] && echo ON || echo OFF)

build_native() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  cmake --build build -j"$(nproc)"
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
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  cmake --build build -j"$(nproc)" --target tick_bench pass_driver
}

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer, with clang.
build_sanitized() {
  local flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all"
  flags+=" -fno-omit-frame-pointer -g -O1"
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DBUILD_WINDOWS_PLUGIN=OFF -DWARNINGS_AS_ERRORS=$warnings_as_errors >/dev/null
  # Only what the stage runs: the unit tests.
  cmake --build build-sanitize -j"$(nproc)" --target unit_tests
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
  [ ${#targets[@]} -gt 0 ] || targets=(settings accuracy pass)
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
