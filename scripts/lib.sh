# Shared by scripts/demo, scripts/test, scripts/bench and scripts/make-medium (source it): the packages
# the project needs, the builds, and the way to the private Wine and X machinery of tests/ui/harness.py.
#
#   ensure_packages        apt-get installs what is missing (as root, or through sudo); nothing else
#   build_preset NAME...   configures and builds CMake presets (native, native-asan, win64, win32)
#   build_ui_facts         builds the native ui_facts program that the harness reads the programs' facts from
#   harness ARGS...        runs tests/ui/harness.py with Debian's Python
#   cleanup_stale_sessions ends Wine servers and removes scratch prefixes a killed run left behind
#
# Settings: JOBS (parallel build jobs, default: the number of cores), XVFB_DISPLAYS (X display numbers
# the private X servers may use, default 100-163), UI_KEEP=1 (keep the scratch prefixes).

set -euo pipefail

REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=$REPO_ROOT/build
SYSTEM_PYTHON=/usr/bin/python3
JOBS=${JOBS:-$(nproc)}

# Wine's template prefix, the private locale and the scratch prefixes, shared by tests, demo and bench.
export UI_WORK_DIR=${UI_WORK_DIR:-$BUILD_ROOT/ui-work}
export UI_WINDOWS_BUILD=${UI_WINDOWS_BUILD:-$BUILD_ROOT/win64}

# Only 64-bit Wine: this project never adds the i386 architecture nor wine32.
REQUIRED_PACKAGES=(
  cmake ninja-build g++ googletest
  g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  wine wine64
  xvfb xdotool imagemagick x11-utils xauth fonts-wqy-zenhei fonts-wqy-microhei fonts-arphic-uming
  python3 python3-pil python3-pefile locales
  xorriso git
  clang libclang-rt-14-dev
)

log() {
  if [ -t 2 ]; then
    printf '\033[1m==> %s\033[0m\n' "$*" >&2
  else
    printf '==> %s\n' "$*" >&2
  fi
}

die() {
  printf 'error: %s\n' "$*" >&2
  exit 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    die "root rights (or sudo) are needed to run: $*"
  fi
}

missing_packages() {
  local package
  for package in "${REQUIRED_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q ' installed$' || echo "$package"
  done
}

ensure_packages() {
  command -v dpkg-query >/dev/null 2>&1 || die "this script expects Debian 12 (no dpkg-query found)"
  local missing
  mapfile -t missing < <(missing_packages)
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  log "Installing the missing packages: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
}

configure_preset() {
  mkdir -p "$BUILD_ROOT"
  local configure_log=$BUILD_ROOT/$1-configure.log
  if ! (cd "$REPO_ROOT" && cmake --preset "$1" >"$configure_log" 2>&1); then
    cat "$configure_log" >&2
    die "configuring $1 failed"
  fi
}

build_preset() {
  local preset
  for preset in "$@"; do
    log "Building $preset (build/$preset)"
    configure_preset "$preset"
    (cd "$REPO_ROOT" && cmake --build --preset "$preset" -j "$JOBS")
  done
}

# The harness reads what it knows of the programs (layout tables, captions, file names) from the native
# program ui_facts, which prints them from the programs' sources.
build_ui_facts() {
  log "Building ui_facts (build/native)"
  configure_preset native
  (cd "$REPO_ROOT" && cmake --build --preset native --target ui_facts -j "$JOBS")
}

harness() {
  "$SYSTEM_PYTHON" "$REPO_ROOT/tests/ui/harness.py" "$@"
}

# A run that was killed cannot clean up after itself: its Wine servers would run on, its copies of the
# template prefix would stay. Only sessions whose owning process is gone are touched, never the template.
cleanup_stale_sessions() {
  local session owner
  for session in "$UI_WORK_DIR"/session-*; do
    [ -d "$session" ] || continue
    owner=$(cat "$session/owner.pid" 2>/dev/null || true)
    if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then
      continue
    fi
    # A session being created has no owner written yet.
    if [ -z "$owner" ] && [ -n "$(find "$session" -maxdepth 0 -mmin -1)" ]; then
      continue
    fi
    if [ -d "$session/prefix" ]; then
      WINEPREFIX=$session/prefix wineserver -k >/dev/null 2>&1 || true
    fi
    rm -rf "$session"
  done
}
