# Sourced by ./run, ./test and ./bench: installs the Debian packages the build needs when missing.
packages=(cmake make g++ g++-mingw-w64-x86-64 libsimpleini-dev googletest libgtest-dev
          libgmock-dev libbenchmark-dev wine64 clang libclang-rt-14-dev clang-format clang-tidy
          valgrind zip python3)

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

build_native() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)"
}

# The benchmarks and the instruction-count driver, in the Release build; only what they need.
build_benchmarks() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" --target tick_bench pass_driver
}

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer, with clang.
build_sanitized() {
  local flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all"
  flags+=" -fno-omit-frame-pointer -g -O1"
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DBUILD_WINDOWS_PLUGIN=OFF >/dev/null
  cmake --build build-sanitize -j"$(nproc)"
}
