# Shared by ./try, ./run-tests and the scripts in scripts/.

# The clone's top folder, wherever the caller stands.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Sets as_root to the words that run a command as root: none for root, sudo for a user who may
# use it. Otherwise says in one line what to do and fails.
find_root() {
  as_root=()
  [ "$(id -u)" -eq 0 ] && return 0
  as_root=(sudo)
  if command -v sudo >/dev/null && { sudo -n true 2>/dev/null || sudo -v 2>/dev/null; }; then
    return 0
  fi
  echo "$(basename "$0"): $1 needs root, and sudo is missing or refuses you: as root, run: $2" >&2
  return 1
}

# Installs the named Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  find_root "installing packages" "apt-get install ${missing[*]}" || exit 1
  echo "installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" ||
    { "${as_root[@]}" apt-get update &&
      "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# Configures and builds the project into the folder $root/$1, with any further CMake arguments.
build() {
  local folder=$root/$1
  shift
  cmake -S "$root" -B "$folder" "$@" >/dev/null
  cmake --build "$folder" -j "$(nproc)"
}
