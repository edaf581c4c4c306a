# Shared by scripts/demo, scripts/test, scripts/bench, scripts/make-medium and scripts/check-medium
# (source it): the packages the project needs, the builds, and the way to the private Wine and X
# machinery of tests/ui/harness.py.
#
#   ensure_packages [PKG...] apt-get installs what is missing of PKG... (default: REQUIRED_PACKAGES),
#                          taking the packages of BACKPORTED_PACKAGES from bookworm-backports when
#                          Debian 12's own version is too old
#   as_root COMMAND...     runs COMMAND as root: directly when root, else through sudo; without sudo it
#                          stops, naming the command and, where ROOT_WAY_ON says one, the way on without it
#   build_preset NAME...   configures and builds CMake presets (native, native-asan, win64, win32), one
#                          build of a folder at a time
#   run_medium_program CMD ARGS...
#                          make-medium and check-medium: tools/medium/medium.py CMD, once its packages are in
#   build_ui_facts         builds the native ui_facts program that the harness reads the programs' facts from
#   harness ARGS...        runs tests/ui/harness.py with Debian's Python
#   cleanup_stale_sessions ends Wine servers and removes scratch prefixes a killed run left behind
#   prepare_i386_wine      the 32-bit road's i386 Wine (scripts/i386_road.sh, sourced at the end after
#                          scripts/i386_run.sh, which runs programs on it)
#
# The scripts run as an ordinary user and ask for root (through sudo) only for apt-get, and on the 32-bit
# road of scripts/test for making its i386 root folder (mmdebstrap, and registering qemu with binfmt_misc
# where the kernel cannot run i386 programs itself);
# each Wine start there mounts and enters it in a user namespace of its own. As root, as CI runs them,
# they work too. Through sudo in the user's own checkout they refuse to run, since everything
# they build would then belong to root.
#
# Settings: JOBS (parallel build jobs, default: the number of cores), XVFB_DISPLAYS (X display numbers
# the private X servers may use, default 100-163), UI_KEEP=1 (keep the scratch prefixes), TEST_32BIT=0
# (scripts/test leaves the 32-bit road out).

set -euo pipefail

REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=$REPO_ROOT/build
SYSTEM_PYTHON=/usr/bin/python3
JOBS=${JOBS:-$(nproc)}

# Programs that usually only root runs (chroot, on the 32-bit road) live in /usr/sbin and /sbin, which an
# ordinary user's PATH on Debian leaves out and sudo's own path puts in: the scripts call them by name, so
# both folders go at the end of PATH, once, here.
for sbin in /usr/sbin /sbin; do
  case ":$PATH:" in *":$sbin:"*) ;; *) PATH=$PATH:$sbin ;; esac
done
export PATH
unset sbin

# Wine's template prefix, the private locale and the scratch prefixes, shared by tests, demo and bench.
export UI_WORK_DIR=${UI_WORK_DIR:-$BUILD_ROOT/ui-work}
export UI_WINDOWS_BUILD=${UI_WINDOWS_BUILD:-$BUILD_ROOT/win64}

# What a machine that only makes media needs (make-medium, check-medium): the release toolchain with the
# JPEG decoder's header that the program is built with (libstb-dev), the image writer and the signing
# tools, with the engine that reaches keys on PKCS#11 tokens, and the PE reader that reads the payload list
# back out of setup.exe.
MEDIUM_PACKAGES=(
  cmake ninja-build g++-mingw-w64-i686-win32 libstb-dev python3 git
  xorriso openssl osslsigncode libengine-pkcs11-openssl python3-asn1crypto python3-cryptography python3-pefile
)

# Everything the demonstration, the tests and the benchmarks need. Only 64-bit Wine: this project never
# adds the i386 architecture nor wine32.
REQUIRED_PACKAGES=(
  "${MEDIUM_PACKAGES[@]}"
  g++ googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
  wine wine64
  xvfb xdotool imagemagick x11-utils xauth fonts-wqy-zenhei fonts-wqy-microhei fonts-arphic-uming
  python3-pil python3-pefile python3-hypothesis python3-pycdlib genisoimage locales
  softhsm2
  clang libclang-rt-14-dev
)

# Packages whose Debian 12 version is too old, with the version needed; they come from bookworm-backports.
# osslsigncode 2.5 has no extract-data command (2.8), which check-medium reads the digest of an unsigned
# program with, nor a usable engine path option, and it encodes signatures differently: the same version
# everywhere keeps signed media the same from one build machine to the next.
declare -A BACKPORTED_PACKAGES=([osslsigncode]=2.9)

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
    local status=0
    sudo "$@" || status=$?
    # sudo's refusal (no rights on this machine) and the command's own failure look alike from here.
    [ "$status" -eq 0 ] || [ -z "${ROOT_WAY_ON:-}" ] || log "Without root rights through sudo: $ROOT_WAY_ON"
    return "$status"
  else
    die "root rights are needed to run: $* (install sudo, or run this as root${ROOT_WAY_ON:+; $ROOT_WAY_ON})"
  fi
}

# apt-get as root: quiet about questions when root already, the plain command through sudo (which a
# sudoers rule can allow on its own).
apt_get() {
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get "$@"
  else
    as_root apt-get "$@"
  fi
}

# Whether the installed package has at least the version needed (when BACKPORTED_PACKAGES names one).
package_is_current() {
  local package=$1 installed
  installed=$(dpkg-query -W -f='${Status} ${Version}\n' "$package" 2>/dev/null) || return 1
  [[ $installed == *" installed "* ]] || return 1
  [ -z "${BACKPORTED_PACKAGES[$package]:-}" ] ||
    dpkg --compare-versions "${installed##* }" ge "${BACKPORTED_PACKAGES[$package]}"
}

# The Debian mirror that the machine's apt sources use for bookworm itself (from /etc/apt/sources.list or
# sources.list.d, whichever format), for reaching bookworm-backports there too.
debian_mirror() {
  apt-get indextargets --format '$(REPO_URI) $(CODENAME) $(CREATED_BY)' 2>/dev/null |
    awk '$2 == "bookworm" && $3 == "Packages" { print $1; exit }'
}

# Downloads PKG... from bookworm-backports into folder with an apt configuration of its own (lists,
# cache and state inside folder), so that the machine's sources stay as they are; apt checks the suite's
# signature with Debian's archive keyring.
download_from_backports() {
  local folder=$1
  shift
  local mirror
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || die "no Debian 12 (bookworm) mirror in the apt sources, which bookworm-backports is reached through"
  mkdir -p "$folder/state/lists/partial" "$folder/cache/archives/partial"
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s bookworm-backports main\n' \
    "$mirror" >"$folder/sources.list"
  local private_apt=(apt-get -q -o Dir::Etc::SourceList="$folder/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State="$folder/state" -o Dir::Cache="$folder/cache" -o APT::Sandbox::User="$(id -un)")
  "${private_apt[@]}" update >&2 || die "the package lists of bookworm-backports could not be fetched"
  local package
  for package in "$@"; do
    (cd "$folder" && "${private_apt[@]}" download "$package/bookworm-backports" >&2) ||
      die "$package could not be downloaded from bookworm-backports"
  done
}

ensure_packages() {
  command -v dpkg-query >/dev/null 2>&1 || die "this script expects Debian 12 (no dpkg-query found)"
  local wanted=("$@")
  [ "${#wanted[@]}" -gt 0 ] || wanted=("${REQUIRED_PACKAGES[@]}")
  local package missing=() backported=()
  for package in "${wanted[@]}"; do
    package_is_current "$package" && continue
    if [ -n "${BACKPORTED_PACKAGES[$package]:-}" ]; then
      backported+=("$package")
    else
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ] && [ "${#backported[@]}" -eq 0 ]; then
    return 0
  fi
  log "Installing the missing packages: ${missing[*]} ${backported[*]}"
  apt_get update -q
  [ "${#missing[@]}" -eq 0 ] || apt_get install -y -q "${missing[@]}"
  if [ "${#backported[@]}" -gt 0 ]; then
    log "Fetching ${backported[*]} from bookworm-backports"
    local folder
    folder=$(mktemp -d)
    download_from_backports "$folder" "${backported[@]}"
    # Installing the downloaded files by path lets apt bring their dependencies from the usual sources.
    chmod -R a+rX "$folder"
    apt_get install -y -q "$folder"/*.deb
    rm -rf "$folder"
    for package in "${backported[@]}"; do
      package_is_current "$package" || die "$package ${BACKPORTED_PACKAGES[$package]} or newer could not be installed"
    done
  fi
}

# Through sudo in the user's own checkout, build/ and the Wine prefixes would become root's and break the
# user's next run: the scripts ask for root themselves, and only for apt-get. (A root shell in a
# checkout of its own, or CI as root, is not affected.)
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_UID:-}" ] && [ "$SUDO_UID" != 0 ] &&
  [ "$(stat -c %u "$REPO_ROOT")" = "$SUDO_UID" ]; then
  die "run scripts/$(basename -- "$0") as ${SUDO_USER:-yourself}, without sudo: it asks for root through sudo itself, only to install packages with apt-get (through sudo, build/ and the Wine prefixes would belong to root)"
fi
# An earlier run through sudo may have left a build folder that this user cannot write.
if [ "$(id -u)" -ne 0 ] && [ -d "$BUILD_ROOT" ]; then
  # The 32-bit road's i386 root folder (build/wine-i386/root) is root's on purpose.
  foreign=$(find "$BUILD_ROOT" -maxdepth 2 -path "$BUILD_ROOT/wine-i386/root*" -prune -o ! -user "$(id -u)" -print \
    -quit 2>/dev/null || true)
  [ -z "$foreign" ] || die "$foreign belongs to another user (left by a run through sudo?); take it back with: sudo chown -R $(id -un): $BUILD_ROOT"
  unset foreign
fi

configure_preset() {
  mkdir -p "$BUILD_ROOT"
  local configure_log=$BUILD_ROOT/$1-configure.log
  if ! (cd "$REPO_ROOT" && cmake --preset "$1" >"$configure_log" 2>&1); then
    cat "$configure_log" >&2
    die "configuring $1 failed"
  fi
}

# One build of a folder at a time: make-medium and check-medium (tools/medium/build.py) take the same
# lock, FOLDER.lock beside the folder, while they build it.
build_preset() {
  local preset lock
  for preset in "$@"; do
    mkdir -p "$BUILD_ROOT"
    exec {lock}>>"$BUILD_ROOT/$preset.lock"
    if ! flock -n "$lock"; then
      log "Waiting for another build of build/$preset to finish"
      flock "$lock"
    fi
    log "Building $preset (build/$preset)"
    configure_preset "$preset"
    (cd "$REPO_ROOT" && cmake --build --preset "$preset" -j "$JOBS")
    exec {lock}>&-
  done
}

# make-medium and check-medium: tools/medium/medium.py COMMAND ARGS... once the packages are there. The
# signing secrets stay out of the environment of apt-get and sudo; the program hands them to osslsigncode
# alone.
run_medium_program() {
  local command=$1
  shift
  local password=${SIGNING_PASSWORD-} pin=${SIGNING_PIN-}
  local has_password=${SIGNING_PASSWORD+1} has_pin=${SIGNING_PIN+1}
  unset SIGNING_PASSWORD SIGNING_PIN
  ensure_packages "${MEDIUM_PACKAGES[@]}"
  [ -z "$has_password" ] || export SIGNING_PASSWORD=$password
  [ -z "$has_pin" ] || export SIGNING_PIN=$pin
  MEDIUM_PROGRAM_NAME=scripts/$command-medium exec "$SYSTEM_PYTHON" "$REPO_ROOT/tools/medium/medium.py" "$command" "$@"
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
  local work_dir wine_path session owner
  for work_dir in "$UI_WORK_DIR" "$I386_WORK_DIR"; do
    # The 32-bit road's prefixes belong to the wineserver of the i386 root folder.
    wine_path=$PATH
    [ "$work_dir" != "$I386_WORK_DIR" ] || wine_path=$I386_DIR/bin:$PATH
    for session in "$work_dir"/session-*; do
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
        PATH=$wine_path WINEPREFIX=$session/prefix wineserver -k >/dev/null 2>&1 || true
      fi
      rm -rf "$session"
    done
  done
}

# The 32-bit road: running a program on it (i386_root_exec), and making it (prepare_i386_wine, i386_remove).
source "$REPO_ROOT/scripts/i386_run.sh"
source "$REPO_ROOT/scripts/i386_road.sh"
