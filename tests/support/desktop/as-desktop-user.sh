#!/usr/bin/env bash
# Runs a test program as it would run on a desktop: as root (CI), as the unprivileged
# user nobody with a home of its own, since a Wayland compositor refuses root and the
# desktop's bus and PipeWire are its user's alone; as anyone else, as that user.
#   as-desktop-user.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
if [[ $(id -u) -ne 0 ]]; then
  exec "$@"
fi
# A build under a folder only root may enter: run as root, and the desktop tests skip saying why.
if ! setpriv --reuid=nobody --regid=nogroup --clear-groups -- test -x "$1"; then
  echo "as-desktop-user.sh: the user nobody cannot reach $1" >&2
  exec "$@"
fi
home=$(mktemp -d /tmp/tavisk-desktop-user.XXXXXX)
chown nobody:nogroup "$home"
status=0
HOME=$home setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@" || status=$?
rm -rf "$home"
exit $status
