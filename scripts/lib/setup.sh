# What the build scripts share for setting up the machine: the cache folder, missing Debian
# packages, and library builds that talk only when they fail. Sourced by bash.

# The libraries built once live outside the repository, in the one folder chosen here; the
# builds the scripts start take it from the environment (cmake/cache_dir.cmake).
export RALTO_CACHE_DIR=${RALTO_CACHE_DIR:-${HOME:-/root}/.cache/ralto}

# install_missing WHO PACKAGE...: installs the packages that are not installed (as root);
# otherwise prints the line that would and fails. A PACKAGE without an architecture is the
# machine's own (or an architecture-independent one), whatever other architectures' copies of it
# scripts/build-arm installed beside it.
install_missing() {
  local who=$1 p own missing=()
  shift
  own=$(dpkg --print-architecture)
  for p in "$@"; do
    [[ "$p" == *:* ]] || p="$p:$own"
    dpkg-query -W -f='${Architecture} ${Status}\n' "${p%:"$own"}" 2>/dev/null |
      grep -qE "^(${p#*:}|all) install ok installed$" || missing+=("${p%:"$own"}")
  done
  ((${#missing[@]} > 0)) || return 0
  if ((EUID != 0)); then
    echo "Missing packages; run as root:"
    echo "  apt-get update && apt-get install -y ${missing[*]}"
    exit 1
  fi
  echo "$who: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # Another apt run may hold the lock for a while: wait for it rather than fail.
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
}

# quietly LOG COMMAND...: runs the command with its output in LOG, shown only on failure.
quietly() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  # Started as a job, so that errexit holds inside a function it runs.
  "$@" >"$log" 2>&1 &
  if ! wait $!; then
    tail -n 40 "$log" >&2
    echo "failed; the whole log is $log" >&2
    exit 1
  fi
}

# configure_preset PRESET ARG...: configures the preset, its output shown only on failure but
# for its warnings and the program's summary (the endpoints, the address family and the refresh
# period it is built for), which a user checks before shipping what the build makes.
configure_preset() {
  local out
  if ! out=$(cmake --preset "$@"); then
    echo "$out" >&2
    return 1
  fi
  sed -n "s/^-- \(IP-query endpoint\|Update endpoint\|Address family\|Refresh period\)/$1: \1/p" <<<"$out"
}
