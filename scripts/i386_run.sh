# Running a program on the 32-bit road: sourced by scripts/lib.sh before scripts/i386_road.sh, which
# makes the road (the i386 root folder with its Wine) in the places named here.
#
#   i386_root_exec CMD... replaces this process with CMD run in the root folder as the calling user
#                         (scripts/i386-root; build/wine-i386/bin holds wine and wineserver that do so)
#   i386_root_enter UID GID FOLDER CMD...
#                         inside the mount namespace that i386_root_exec makes: the mounts, then CMD
#                         (scripts/i386-root --enter)

I386_DIR=$BUILD_ROOT/wine-i386
# The 32-bit road's template prefix and scratch sessions (tests/ui/common.py: Road).
I386_WORK_DIR=${UI_I686_WORK_DIR:-$BUILD_ROOT/ui-work-i386}
I386_ROOT=$I386_DIR/root

# The root folder sees the machine's processes, devices and X server sockets, and the checkout at its own
# path, so that paths (the Wine prefix, a medium) are the same inside and out. The mounts live in a mount
# namespace of this command's own: they end with its last process, whatever way it ends.
i386_root_exec() {
  [ -x "$I386_ROOT/usr/bin/wine" ] && [ -f "$I386_DIR/root.recipe" ] ||
    die "the 32-bit Wine environment is not prepared (scripts/test prepares it: prepare_i386_wine)"
  # An ordinary user makes the mounts and enters the root folder in a user namespace of its own, in which
  # it is root: no sudo for each program, and what Wine writes still belongs to the user.
  local namespace=(unshare --mount --propagation private) user=("$(id -u)" "$(id -g)")
  if [ "${user[0]}" -ne 0 ]; then
    namespace=(unshare --user --map-root-user --mount --propagation private)
    user=(0 0)
  fi
  exec "${namespace[@]}" -- bash "$REPO_ROOT/scripts/i386-root" --enter "${user[@]}" "$(pwd -P)" "$@"
}

# Runs as root (of the machine, or of the user's own namespace) inside the new mount namespace: the
# mounts, then CMD as the calling user, in its folder.
i386_root_enter() {
  local uid=$1 gid=$2 folder=$3
  shift 3
  # Recursive binds: a user namespace may not bind a folder without the mounts beneath it (the checkout
  # too: its build/ may be a mount of its own).
  mount --rbind /proc "$I386_ROOT/proc"
  mount --rbind /sys "$I386_ROOT/sys"
  mount --rbind /dev "$I386_ROOT/dev"
  [ ! -d /tmp/.X11-unix ] || mount --bind /tmp/.X11-unix "$I386_ROOT/tmp/.X11-unix"
  mount --rbind "$REPO_ROOT" "$I386_ROOT$REPO_ROOT"
  [ -d "$I386_ROOT$folder" ] || folder=/
  # The root folder's own programs: the caller's PATH may lead to the links of build/wine-i386/bin.
  # Already that user (root, or root of the user's own namespace, which may not set groups): no switch.
  local as_user=(--userspec="$uid:$gid")
  [ "$uid" != "$(id -u)" ] || as_user=()
  exec chroot "${as_user[@]}" "$I386_ROOT" /usr/bin/env -C "$folder" HOME="$I386_DIR/home" \
    PATH=/usr/local/bin:/usr/bin:/bin "$@"
}
