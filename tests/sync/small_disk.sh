#!/bin/bash
# mount|unmount <folder>: a 1 MiB tmpfs at <folder>, for the tests of a disk that fills up while
# the launcher writes. Mounting needs root (as in CI); where it is impossible the folder stays
# an ordinary one, the reason is printed and the tests that need the small disk skip.
set -u
action=$1
folder=$2
case "$action" in
  mount)
    mkdir -p "$folder"
    # What a killed earlier run left mounted starts empty again.
    if mountpoint -q "$folder"; then umount "$folder" || exit 1; fi
    if ! mount -t tmpfs -o size=1m,mode=0777 talvoreen-small-disk "$folder"; then
      echo "small disk: cannot mount a tmpfs at $folder (not root, or no mount permission here)"
    fi
    ;;
  unmount)
    if mountpoint -q "$folder"; then umount "$folder"; fi
    ;;
  *)
    echo "usage: small_disk.sh mount|unmount <folder>" >&2
    exit 2
    ;;
esac
