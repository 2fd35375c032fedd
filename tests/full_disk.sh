#!/usr/bin/env bash
# A small volume for the full-disk test of the run: a tmpfs of 64 KiB,
# which the Windows tests reach through Wine's Z: drive.
#   full_disk.sh mount|unmount DIR
# Mounting needs root; without it the test that needs the volume skips
# itself, and this says why.
set -u
action=$1 dir=$2

mounted() { grep -qs " $dir tmpfs " /proc/mounts; }

case $action in
  mount)
    mkdir -p "$dir"
    mounted && umount "$dir"
    if [[ $(id -u) -ne 0 ]]; then
      echo "Not running as root: no small volume at $dir, the full-disk test will skip."
    elif ! mount -t tmpfs -o size=64k,mode=0777 vantrel-full-disk "$dir"; then
      echo "Could not mount a tmpfs at $dir: the full-disk test will skip."
    fi
    ;;
  unmount)
    if mounted; then
      umount "$dir" || umount -l "$dir"
    fi
    rmdir "$dir" 2>/dev/null
    ;;
  *)
    echo "usage: full_disk.sh mount|unmount DIR" >&2
    exit 2
    ;;
esac
exit 0
