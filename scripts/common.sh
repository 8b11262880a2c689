# Shared by ./try and ./run-tests.

# Installs the named Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" ||
    { "${as_root[@]}" apt-get update && "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# Configures and builds the project into the folder $1, with any further CMake arguments.
build() {
  local folder=$1
  shift
  cmake -S . -B "$folder" "$@" >/dev/null
  cmake --build "$folder" -j "$(nproc)"
}
