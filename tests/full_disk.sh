#!/usr/bin/env bash
# A 64 KiB tmpfs for the full-disk test of the run, reached under Wine
# through the Z: drive:  full_disk.sh mount|unmount DIR
# Mounting needs root; without it the test skips itself, as this says.
dir=$2
if [[ $1 == mount ]]; then
  mkdir -p "$dir"
  mountpoint -q "$dir" && umount "$dir"
  [[ $(id -u) -eq 0 ]] && mount -t tmpfs -o size=64k,mode=0777 vantrel-full-disk "$dir" ||
    echo "No small volume at $dir (mounting it needs root): the full-disk test will skip."
else
  mountpoint -q "$dir" && { umount "$dir" || umount -l "$dir"; }
  rmdir "$dir" 2>/dev/null
fi
exit 0
