#!/usr/bin/env bash
# full_disk.sh mount|unmount DIR: a 64 KiB tmpfs for the full-disk checks
# (Z:DIR under Wine). Needs root; without it those checks are skipped.
dir=$2
if [[ $1 == mount ]]; then
  mkdir -p "$dir"
  mountpoint -q "$dir" && umount "$dir"
  [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=64k,mode=0777 vantrel-full-disk "$dir" ||
    echo "No small volume at $dir (mounting it needs root): no full-disk check."
else
  mountpoint -q "$dir" && { umount "$dir" || umount -l "$dir"; }
  rmdir "$dir" 2>/dev/null || true
fi
