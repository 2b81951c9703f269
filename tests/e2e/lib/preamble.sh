# Sourced first by every end-to-end script, with a short name for its work folder and the
# script's own arguments:
#   . "$(dirname "$0")/lib/preamble.sh" NAME "$@"     (the script's arguments: <Viewer> <build folder>)
# Sets $viewer, $build and $script_dir (this folder's parent, absolute), makes a fresh work
# folder $work under the build's temporary folder and enters it, and loads the X server and
# viewer helpers (xserver.sh, viewer.sh). The viewer runs with a home of its own inside the
# work folder, so a user's toolkit settings cannot change what the script sees.
script_dir=$(cd "$(dirname "$0")" && pwd)
viewer=$2
build=$3
work=$(mktemp -d "$build/Testing/Temporary/e2e-$1.XXXXXX")
cd "$work"
mkdir -p home
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CACHE_HOME="$work/home/.cache" XDG_STATE_HOME="$work/home/.local/state"
. "$script_dir/lib/xserver.sh"
. "$script_dir/lib/viewer.sh"
