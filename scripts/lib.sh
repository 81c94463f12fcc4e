# Shared by scripts/test and scripts/bench: which build runs here, and building a preset.

# The product is the i686 build. Some virtual machines cannot execute 32-bit code at all (no 32-bit code
# segment): there the same sources are built for x86_64 and run under 64-bit Wine.
# TELEMETRY_TEST_ARCH=i686 or x86_64 forces the choice.
run_arch() {
  if [ -n "${TELEMETRY_TEST_ARCH:-}" ]; then echo "$TELEMETRY_TEST_ARCH"
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686
  else echo x86_64
  fi
}

build_preset() { # preset [target...]
  local preset=$1; shift
  [ -f "build/${preset#mingw-}/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  # Quietly in parallel; on failure once more one at a time, so that the error reads cleanly.
  cmake --build --preset "$preset" -j "$(nproc)" "${targets[@]}" >/dev/null 2>&1 ||
    cmake --build --preset "$preset" -j 1 "${targets[@]}"
}

# A Linux path as Windows programs under Wine see it (Wine maps / to drive Z:).
winpath() { local p; p=$(realpath -m "$1"); p=${p//\//\\}; echo "Z:$p"; }
