#!/bin/sh
# Runs a test program with an empty home of its own, so that what a user keeps in theirs (the
# toolkit's file chooser settings, recently used files, ...) cannot change what the test sees,
# and nothing a test leaves there reaches the next one.
#   private_home.sh PROGRAM [ARGUMENTS...]
home=$(mktemp -d "${TMPDIR:-/tmp}/velmora-home.XXXXXX") || exit 1
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" "$@"
status=$?
rm -rf "$home"
exit $status
