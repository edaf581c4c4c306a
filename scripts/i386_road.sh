# The 32-bit road, made: sourced by scripts/lib.sh after its shared pieces (log, die, as_root,
# ensure_packages, the harness) and scripts/i386_run.sh (where the road lives, and running a program on it).
# The host's Wine stays 64-bit only, so the i686 setup.exe runs under the Wine of an i386 Debian root
# folder. Where the kernel runs i386 programs itself (arch-test tells), they run there natively and
# nothing is registered; elsewhere qemu-i386 emulates them, registered with binfmt_misc until reboot.
#
#   prepare_i386_wine     where the kernel cannot run i386 programs, fetches qemu-i386 (bookworm-backports'
#                         qemu-user: Debian 12's own qemu 7.2 spins in every 32-bit Wine process) and
#                         registers it with binfmt_misc under a name of the project's own; makes the root
#                         folder with Wine and the fonts, and boots the tests' template prefix in it; what
#                         it made is reused while its recipe is unchanged
#   i386_remove           removes what the road leaves on the machine (scripts/i386-root --remove)
#
# Settings: TEST_32BIT=0 leaves the 32-bit road out of scripts/test.

I386_QEMU=$I386_DIR/qemu-i386
I386_SUITE=bookworm
I386_QEMU_SUITE=bookworm-backports
# The road's binfmt_misc entry. Another one that sends i386 programs elsewhere (a package's qemu-i386, or
# another checkout's) is never replaced nor removed: an entry is the road's when its interpreter is
# I386_QEMU.
I386_BINFMT=tarvin-i386
I386_BINFMT_DIR=/proc/sys/fs/binfmt_misc
# What the entry matches, and the headers of i386 programs, as hex: ELF32, little endian, version 1, any
# ABI; an executable or a shared object (a position-independent program); machine 3.
I386_ELF_MAGIC=7f454c4601010100000000000000000002000300
I386_ELF_MASK=fffffffffffefe00fffffffffffffffffeffffff
I386_ELF_HEADERS=(
  7f454c460101010000000000000000000200030001000000
  7f454c460101010000000000000000000300030001000000
)
# Wine, the fonts the window names (see FONT_REPLACEMENTS in tests/ui/harness.py), and the libraries that
# Wine loads at run time without depending on them.
I386_PACKAGES=(
  wine wine32 fonts-wine fonts-wqy-zenhei fonts-wqy-microhei fonts-arphic-uming
  libxrandr2 libxrender1 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1 libgnutls30
)
I386_HOST_PACKAGES=(mmdebstrap arch-test)
# Raise when the way the root folder is made changes in a way the lines below do not show.
I386_ROOT_REVISION=1
I386_ROOT_MEGABYTES=1500

i386_recipe() {
  printf '%s\n' "revision $I386_ROOT_REVISION" "suite $I386_SUITE" "packages ${I386_PACKAGES[*]}" \
    "options --variant=apt APT::Install-Recommends=false force-unsafe-io"
}

i386_check_space() {
  local free_megabytes
  mkdir -p "$I386_DIR"
  free_megabytes=$(df --output=avail -BM "$I386_DIR" | tail -n 1 | tr -dc 0-9)
  if [ "$free_megabytes" -lt "$I386_ROOT_MEGABYTES" ]; then
    die "not enough space for the 32-bit Wine root folder: ${free_megabytes} MB free under $I386_DIR," \
      "about ${I386_ROOT_MEGABYTES} MB needed (or leave the 32-bit road out with TEST_32BIT=0)"
  fi
}

# usr/bin/qemu-i386 of the backports suite's qemu-user, taken out of the package without installing it.
i386_fetch_qemu() {
  local apt_dir=$I386_DIR/apt
  log "Fetching qemu-i386 from $I386_QEMU_SUITE"
  rm -rf "$apt_dir"
  if ! (download_from_backports "$apt_dir" qemu-user) 2>"$I386_DIR/fetch.log"; then
    tail -n 5 "$I386_DIR/fetch.log" >&2
    die "qemu-user of $I386_QEMU_SUITE could not be fetched (see $I386_DIR/fetch.log): the 32-bit road needs" \
      "it (leave the road out with TEST_32BIT=0)"
  fi
  dpkg-deb --fsys-tarfile "$apt_dir"/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$I386_QEMU.new" ||
    die "the qemu-user package of $I386_QEMU_SUITE holds no usr/bin/qemu-i386"
  chmod 755 "$I386_QEMU.new"
  local version
  version=$("$I386_QEMU.new" --version | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ "${version:-0}" -ge 8 ] || die "qemu-i386 of $I386_QEMU_SUITE is version ${version:-unknown}; Wine needs 8 or newer"
  mv "$I386_QEMU.new" "$I386_QEMU"
  rm -rf "$apt_dir"
}

# How the root folder's i386 programs run: "native" where the kernel runs them itself, which
# `arch-test -n` checks with every emulator it knows turned off; else "qemu" (also when arch-test cannot
# tell, exit status 2). An entry of binfmt_misc that sends them to qemu comes before the kernel's own
# loader, so while one is registered (until reboot) they go there.
i386_runner() {
  local status=0
  arch-test -n i386 >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then echo native; else echo qemu; fi
}

# Whether the binfmt_misc entry FILE is the road's: its interpreter is I386_QEMU (through any links).
i386_binfmt_is_ours() {
  local interpreter ours
  interpreter=$(sed -n 's/^interpreter //p' "$1" 2>/dev/null)
  ours=$(readlink -f -- "$I386_QEMU") || return 1
  [ -n "$interpreter" ] && [ -n "$ours" ] && [ "$(readlink -f -- "$interpreter")" = "$ours" ]
}

# Whether the binfmt_misc entry FILE is enabled and sends i386 programs to its interpreter: its magic,
# under its mask, matches an i386 program's header.
i386_binfmt_catches() {
  local file=$1 offset magic mask header i byte
  grep -qx enabled "$file" 2>/dev/null || return 1
  offset=$(sed -n 's/^offset //p' "$file")
  magic=$(sed -n 's/^magic //p' "$file")
  mask=$(sed -n 's/^mask //p' "$file")
  [ -n "$magic" ] && [ "${offset:-0}" = 0 ] || return 1
  for header in "${I386_ELF_HEADERS[@]}"; do
    [ "${#magic}" -le "${#header}" ] || continue
    for ((i = 0; i < ${#magic}; i += 2)); do
      byte=0x${mask:i:2}
      [ -n "$mask" ] || byte=0xff
      (((0x${header:i:2} & byte) == (0x${magic:i:2} & byte))) || continue 2
    done
    return 0
  done
  return 1
}

# The entries that send i386 programs to an interpreter, one a line: name, ours or foreign, interpreter.
i386_binfmt_catchers() {
  local file owner
  for file in "$I386_BINFMT_DIR"/*; do
    [ -f "$file" ] && i386_binfmt_catches "$file" || continue
    owner=foreign
    ! i386_binfmt_is_ours "$file" || owner=ours
    printf '%s %s %s\n' "${file##*/}" "$owner" "$(sed -n 's/^interpreter //p' "$file")"
  done
}

i386_note_foreign_binfmt() {
  log "binfmt_misc entry $1, which this project did not make, sends i386 programs to $2: it stays as it" \
    "is, and the root folder's Wine runs through it (a qemu older than 8 makes every 32-bit Wine" \
    "process spin)"
}

# i386 programs go to our qemu-i386, unless an entry of another already sends them elsewhere. The F flag
# opens the interpreter now, so that it also runs inside the root folder, where its path does not exist.
# renew: qemu-i386 was fetched anew, and an entry of ours holds the old file open.
i386_register_binfmt() {
  if [ ! -e "$I386_BINFMT_DIR/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$I386_BINFMT_DIR" 2>/dev/null ||
      die "binfmt_misc is not available on this kernel, so it cannot run i386 programs with qemu" \
        "(load the binfmt_misc module, or leave the 32-bit road out with TEST_32BIT=0)"
  fi
  local name owner interpreter registered=no
  while read -r name owner interpreter; do
    if [ "$owner" = foreign ]; then
      i386_note_foreign_binfmt "$name" "$interpreter"
      registered=yes
    elif [ "$1" != renew ] && grep -q '^flags: .*F' "$I386_BINFMT_DIR/$name"; then
      registered=yes
    else
      echo -1 | as_root tee "$I386_BINFMT_DIR/$name" >/dev/null
    fi
  done < <(i386_binfmt_catchers)
  [ "$registered" = no ] || return 0
  # A disabled entry of ours goes; one of that name that is not ours is not touched.
  if [ -e "$I386_BINFMT_DIR/$I386_BINFMT" ]; then
    i386_binfmt_is_ours "$I386_BINFMT_DIR/$I386_BINFMT" ||
      die "binfmt_misc holds an entry named $I386_BINFMT that this project did not make (interpreter" \
        "$(sed -n 's/^interpreter //p' "$I386_BINFMT_DIR/$I386_BINFMT")); the 32-bit road leaves it alone"
    echo -1 | as_root tee "$I386_BINFMT_DIR/$I386_BINFMT" >/dev/null
  fi
  local magic mask
  magic=$(sed 's/../\\x&/g' <<<"$I386_ELF_MAGIC")
  mask=$(sed 's/../\\x&/g' <<<"$I386_ELF_MASK")
  printf ':%s:M::%s:%s:%s:F\n' "$I386_BINFMT" "$magic" "$mask" "$I386_QEMU" |
    as_root tee "$I386_BINFMT_DIR/register" >/dev/null ||
    die "binfmt_misc refused the registration of $I386_QEMU for i386 programs"
  log "Registered $I386_QEMU for i386 programs with binfmt_misc ($I386_BINFMT): it stays until reboot," \
    "or until scripts/i386-root --remove"
}

# What a failed or interrupted mmdebstrap leaves: the half-made root folder, root's, which the user could
# not remove. --one-file-system: nothing mounted inside it is followed.
i386_discard_new_root() {
  [ ! -e "$I386_ROOT.new" ] || as_root rm -rf --one-file-system "$I386_ROOT.new"
}

# mmdebstrap mounts what the package scripts need inside the new root folder; its own mount namespace
# takes those mounts away however it ends.
# runner: native or qemu (i386_runner). mmdebstrap looks for qemu's entry under the name qemu-i386 only:
# where ours runs the programs, its check is skipped.
i386_make_root() {
  local runner=$1 mirror packages options=() previous_trap pid status=0
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || die "no Debian 12 (bookworm) mirror in the apt sources to make the i386 root folder from"
  packages=$(IFS=,; echo "${I386_PACKAGES[*]}")
  [ "$runner" = native ] || options=(--skip=check/qemu)
  log "Making the i386 root folder with Wine (build/wine-i386/root; a few minutes, about 250 MB to fetch)"
  i386_discard_new_root
  # However this ends (a failure, Ctrl-C, a kill), mmdebstrap ends first and then the half-made folder
  # goes: in the background, it can be waited for.
  previous_trap=$(trap -p EXIT)
  trap i386_discard_new_root EXIT
  local command=(unshare --mount --propagation private -- mmdebstrap --mode=root --arch=i386 --variant=apt
    --aptopt='APT::Install-Recommends "false"' --dpkgopt=force-unsafe-io --include="$packages" "${options[@]}"
    "$I386_SUITE" "$I386_ROOT.new" "$mirror")
  # The command itself (or sudo, which passes signals on) is the process waited for; sudo asks for its
  # password before.
  if [ "$(id -u)" -ne 0 ]; then
    # Not a condition inside a list: there, a refusal would not stop the script, and mmdebstrap would run
    # without root.
    as_root true || die "making the i386 root folder needs root rights, which sudo did not give" \
      "(TEST_32BIT=0 scripts/test leaves the 32-bit road out)"
    command=(sudo -- "${command[@]}")
  fi
  "${command[@]}" >"$I386_DIR/mmdebstrap.log" 2>&1 &
  pid=$!
  trap 'log "Ending mmdebstrap"; kill '"$pid"' 2>/dev/null; wait '"$pid"'; exit 130' INT TERM HUP
  wait "$pid" || status=$?
  trap - INT TERM HUP
  if [ "$status" -ne 0 ]; then
    tail -n 20 "$I386_DIR/mmdebstrap.log" >&2
    i386_check_space
    die "making the i386 root folder failed (see $I386_DIR/mmdebstrap.log)"
  fi
  [ ! -e "$I386_ROOT" ] || as_root rm -rf --one-file-system "$I386_ROOT"
  as_root mv "$I386_ROOT.new" "$I386_ROOT"
  eval "${previous_trap:-trap - EXIT}"
}

prepare_i386_wine() {
  local recipe runner fresh_qemu=keep
  # Each step of the road that needs root can be left out with the whole road.
  local ROOT_WAY_ON="TEST_32BIT=0 scripts/test leaves the 32-bit road out"
  recipe=$(i386_recipe | sha256sum | cut -d' ' -f1)
  mkdir -p "$I386_DIR/bin" "$I386_DIR/home"
  ensure_packages "${I386_HOST_PACKAGES[@]}"
  runner=$(i386_runner)
  if [ "$runner" = native ]; then
    log "The kernel runs i386 programs itself: the root folder's Wine runs natively, nothing is registered"
  else
    if [ ! -x "$I386_QEMU" ]; then
      i386_check_space
      i386_fetch_qemu
      fresh_qemu=renew
    fi
    i386_register_binfmt "$fresh_qemu"
  fi
  if [ "$(cat "$I386_DIR/root.recipe" 2>/dev/null)" != "$recipe" ] || [ ! -x "$I386_ROOT/usr/bin/wine" ]; then
    rm -f "$I386_DIR/root.recipe"
    i386_check_space
    i386_make_root "$runner"
    echo "$recipe" >"$I386_DIR/root.recipe"
  fi
  # The mount points of the binds that i386_root_enter makes: the root folder is root's, and an ordinary
  # user enters it without sudo.
  [ -d "$I386_ROOT/tmp/.X11-unix" ] && [ -d "$I386_ROOT$REPO_ROOT" ] ||
    as_root mkdir -p "$I386_ROOT/tmp/.X11-unix" "$I386_ROOT$REPO_ROOT"
  local command
  for command in wine wineserver; do
    ln -sfn "$REPO_ROOT/scripts/i386-root" "$I386_DIR/bin/$command"
  done
  "$I386_DIR/bin/wine" --version >/dev/null 2>"$I386_DIR/check.log" ||
    die "the i386 root folder's Wine does not run ($runner; see $I386_DIR/check.log)"
  log "Booting the 32-bit Wine template prefix"
  UI_ROAD=i686 UI_I686_WORK_DIR=$I386_WORK_DIR harness prepare
}

# What the road leaves on the machine, and only that: the binfmt_misc entries whose interpreter is our
# qemu-i386 (with the name of an earlier version too), build/wine-i386 with the root folder, and the road's
# Wine prefixes. The packages it installed stay.
i386_remove() {
  local file
  for file in "$I386_BINFMT_DIR"/*; do
    [ -f "$file" ] && i386_binfmt_is_ours "$file" || continue
    log "Removing the binfmt_misc entry ${file##*/} ($I386_QEMU)"
    echo -1 | as_root tee "$file" >/dev/null
  done
  if [ -e "$I386_DIR" ] || [ -L "$I386_DIR" ]; then
    log "Removing $I386_DIR"
    as_root rm -rf --one-file-system "$I386_DIR"
  fi
  rm -rf "$I386_WORK_DIR"
}
