# Shared by ./try, ./run-tests and the scripts in scripts/.

# The clone's top folder, wherever the caller stands.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The Debian packages that each script, and each stage of run-tests, needs: named here only.
packages_build="cmake g++ make"
packages_deb="$packages_build build-essential dpkg-dev debhelper"
packages_arm64_deb="$packages_deb g++-aarch64-linux-gnu"
packages_apt_repository="apt-utils gpg gpg-agent gpgv"
packages_release_files="$packages_arm64_deb g++-mingw-w64-x86-64-posix git gzip lintian python3 zip $packages_apt_repository"
packages_usb_chips="umockdev libumockdev0 gir1.2-umockdev-1.0 python3-gi libftdi1-2"
packages_native="$packages_build python3 libgtest-dev binutils strace $packages_usb_chips"
packages_sanitize=$packages_native
packages_windows="cmake ninja-build python3 g++-mingw-w64-x86-64-posix googletest wine wine64"
packages_fuzz="cmake make clang libclang-rt-dev"
packages_lint="cmake make python3 clang clang-tidy cppcheck libclang-rt-dev libgtest-dev g++-mingw-w64-x86-64-posix nodejs npm"
# Clean chroots for the package to be built and installed in: mmdebstrap, as root or in a user
# namespace (uidmap), and autopkgtest.
packages_package="$packages_deb python3 lintian man-db groff-base gzip file mmdebstrap uidmap autopkgtest $packages_apt_repository"
packages_arm64="$packages_arm64_deb python3 qemu-user"
packages_release="$packages_release_files python3 python3-jsonschema python3-yaml ruby unzip wine wine64"
packages_bench="$packages_build gcc python3 time strace"
packages_fresh_debian="debootstrap git"

# Sets as_root to the words that run a command as root: none for root, sudo for a user who may
# use it. Otherwise says in one line why not and what to do, and fails. sudo asks for a password
# only where someone can type it.
find_root() {
  as_root=()
  [ "$(id -u)" -eq 0 ] && return 0
  as_root=(sudo)
  local why
  if ! command -v sudo >/dev/null; then
    why="sudo is not installed"
  elif sudo -n true 2>/dev/null || { [ -t 0 ] && sudo -v 2>/dev/null; }; then
    return 0
  elif [ -t 0 ]; then
    why="sudo refuses you"
  else
    why="sudo needs a password and there is no terminal to type it on"
  fi
  echo "$(basename "$0"): $1 needs root, and $why: as root, run: $2" >&2
  return 1
}

# Whether the Debian package $1 is installed, or an installed package stands in for it, as
# NodeSource's nodejs does for npm: asking apt for the real one would fail on its conflict.
is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed" ||
    dpkg-query -W -f='${Status}|${Provides}\n' 2>/dev/null | awk -F'|' -v want="$1" '
      $1 ~ /ok installed$/ { n = split($2, names, /, */)
                             for (i = 1; i <= n; i++) { sub(/ .*/, "", names[i]); if (names[i] == want) found = 1 } }
      END { exit !found }'
}

# Prints those of the named Debian packages that are not installed, each once, on one line.
missing_packages() {
  local package
  for package in "$@"; do
    is_installed "$package" || echo "$package"
  done | sort -u | xargs
}

# Installs the named Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  read -r -a missing <<<"$(missing_packages "$@")"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing the Debian packages: ${missing[*]}"
  find_root "installing packages" "apt-get install ${missing[*]}" || exit 1
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" ||
    { "${as_root[@]}" apt-get update &&
      "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# Prints the command lines that the README file $1 prints under the heading $2 (the whole heading
# line), as they stand there, so that the scripts run what a user reads.
readme_commands() {
  awk -v heading="$2" '$0 == heading { on = 1; next }
                       on && /^#/ { exit }
                       on && /^    / { print substr($0, 5) }' "$1"
}

# Configures and builds the project into the folder $root/$1, with any further CMake arguments.
build() {
  local folder=$root/$1
  shift
  cmake -S "$root" -B "$folder" "$@" >/dev/null
  cmake --build "$folder" -j "$(nproc)"
}

# Gives wine a fresh prefix of its own, WINEPREFIX, that is thrown away with wine's processes when
# the calling shell exits: it takes that shell's EXIT trap, so call it in a subshell. Wine gets no
# display, so it never opens a window, and skips the .NET and HTML engines it would otherwise
# offer to download; no DLL is found through a WINEPATH of the caller's.
start_fresh_wine() {
  unset DISPLAY WAYLAND_DISPLAY WINEPATH
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX
  WINEPREFIX=$(mktemp -d)
  trap 'wineserver -k 2>/dev/null; rm -rf "$WINEPREFIX"' EXIT
  # Wine's helper processes outlive each run and keep the descriptors they were started with, so
  # they are started here, away from the pipes that a test reads to their end.
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot --init </dev/null >/dev/null 2>&1
}

# Clean chroots of this machine's Debian release, for the package and its apt repository to be
# built, installed and tested in, never on this machine. mmdebstrap makes them as root, or else in
# a user namespace (unshare mode). One chroot, with what building and testing the package needs,
# is made once into a tarball in build-chroots/ (its name changes with what it holds); each check
# unpacks a fresh copy of it. Sets chroot_release, chroot_sources and chroot_tarball; says what
# making the tarball cost. Where neither root nor a user namespace is available, says so on a
# SKIPPED line and fails.
chroot_packages=debhelper,cmake,python3,apt-utils,ca-certificates,passwd
prepare_clean_chroot() {
  if ! { [ "$(id -u)" -eq 0 ] && unshare --mount true 2>/dev/null; } &&
      ! unshare --map-auto --map-root-user --mount true 2>/dev/null; then
    echo "SKIPPED: clean chroots need root that may mount, or user namespaces with subordinate ids (/etc/subuid)"
    return 1
  fi
  chroot_release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  chroot_sources=("deb http://deb.debian.org/debian $chroot_release main"
    "deb http://deb.debian.org/debian $chroot_release-updates main"
    "deb http://deb.debian.org/debian-security $chroot_release-security main")
  chroot_tarball=$root/build-chroots/package-$chroot_release-$(dpkg --print-architecture)-$(echo "$chroot_packages" | md5sum | cut -c1-8).tar
  if [ -e "$chroot_tarball" ]; then
    echo "chroot: reusing $chroot_tarball, made earlier (delete it to make it anew)"
    return 0
  fi
  mkdir -p "$root/build-chroots"
  local started=$SECONDS
  # The package lists stay, so that apt in a copy need not fetch them whole again.
  mmdebstrap --quiet --format=tar --variant=buildd --include="$chroot_packages" --skip=output/dev,cleanup/apt/lists \
    --customize-hook='echo "chroot: downloaded $(du -sm "$1/var/cache/apt/archives" | cut -f1) MB of packages"' \
    "$chroot_release" "$chroot_tarball.part" "${chroot_sources[@]}"
  mv "$chroot_tarball.part" "$chroot_tarball"
  echo "chroot: made $chroot_tarball ($(du -m "$chroot_tarball" | cut -f1) MB) in $((SECONDS - started)) s"
}

# Runs the mmdebstrap hooks given (--customize-hook=... and the like) in a fresh copy of the
# clean chroot, which is thrown away afterwards, and says how long it took.
in_fresh_chroot() {
  local started=$SECONDS
  mmdebstrap --quiet --variant=custom --skip=update --setup-hook="tar-in $chroot_tarball /" "$@" \
    "$chroot_release" /dev/null "${chroot_sources[@]}"
  echo "chroot: a fresh copy served for $((SECONDS - started)) s"
}
