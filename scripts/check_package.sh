#!/usr/bin/env bash
# Builds the source package and the package with the README's recipe and checks them with lintian.
# Then, in clean chroots of this machine's Debian release, never on this machine: installs the
# package by the README's recipe, runs it from PATH, finds its manual page and udev rule and purges
# it without a trace; runs its autopkgtest; builds it again from the .dsc as a build user, which
# must give the same package to the byte. Last the apt repository: made with a throwaway key and
# served on 127.0.0.1 only, it is added to a fresh chroot as the README says and installs the
# package; remade with a higher version it upgrades it, the first version installs again by name,
# and signed with another key it is refused (gpgv says NO_PUBKEY, Debian 13's sqv "Missing key").
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

folder=build-package
ensure_packages $packages_package

check_package_files() {
  local obj
  obj=$(echo "$folder"/brevinmarquest-*/obj-*)
  python3 tests/check_man_page.py "$obj/doc/brevinmarquest.1" src
  lintian --pedantic --fail-on error,warning --info "$dsc" "$deb"
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/brevinmarquest | file - | grep -q ', stripped' ||
    { echo "the tool in $deb is not stripped"; return 1; }
  echo "lintian --pedantic finds nothing in the .dsc nor the .deb; the manual page renders without a warning"
}

# The tool ships no library: one in the package or a plain install would be a stand-in device.
check_no_stand_ins() {
  local plain found
  plain=$(mktemp -d)
  cmake --install "$(echo "$folder"/brevinmarquest-*/obj-*)" --prefix "$plain" >/dev/null
  found=$( (dpkg-deb -c "$deb"; find "$plain") | grep -E '\.(so|dll|dylib)([. ]|$)' || true)
  rm -rf "$plain"
  [ -z "$found" ] || { echo "a library is installed with the tool: $found"; return 1; }
}

# The project's home is named once, in CMakeLists.txt; every other address is checked against it.
check_home() {
  local home pages
  home=$(sed -n 's/^ *HOMEPAGE_URL "\([^"]*\)".*/\1/p' CMakeLists.txt)
  pages=$(sed -E 's|^https://github.com/([^/]+)/(.+)$|https://\1.github.io/\2/apt|' <<<"$home")
  if grep -rhoE 'https://github\.com/[^ "%)]*' debian README.md Formula bucket | grep -vE "^$home([/.]|$)"; then
    echo "those addresses are not under $home, the home CMakeLists.txt names"; return 1
  fi
  grep -qxF "Homepage: $home" debian/control || { echo "debian/control's Homepage is not $home"; return 1; }
  readme_commands README.md "$apt_heading" | grep -qF "$pages/" ||
    { echo "README.md's apt commands do not name $pages"; return 1; }
}

# In the chroot, after the README's recipe installed the package.
check_installed='
  tool=$(command -v brevinmarquest)
  [ "$(printf "Q\n" | "$tool")" != "" ]
  MAN_DISABLE_SECCOMP=1 man -w brevinmarquest
  test -f /usr/lib/udev/rules.d/60-brevinmarquest.rules
  test -f /usr/share/doc/brevinmarquest/copyright
  dpkg -L brevinmarquest | grep brevinmarquest >/tmp/installed-files
  apt-get purge -q -y brevinmarquest >/dev/null
  ! dpkg-query -W -f="\${db:Status-Status}\n" brevinmarquest 2>/dev/null | grep -qv not-installed
  while read -r path; do ! test -e "$path" || { echo "left behind: $path"; exit 1; }; done </tmp/installed-files
  echo "the package installs by the README recipe, works from PATH and purges without a trace"'

# In the chroot, as a build user, into /build.
build_from_dsc='
  useradd --create-home builder
  cd /build
  dpkg-source -x ./*.dsc source
  # The toolchain as up to date as this machine'"'"'s, whenever the chroot was made.
  export DEBIAN_FRONTEND=noninteractive
  apt-get -q update >/dev/null
  apt-get -q -y upgrade >/dev/null
  apt-get build-dep -q -y ./source >/dev/null
  chown -R builder /build
  runuser -u builder -- sh -ec "cd source && dpkg-buildpackage --no-sign --build=any" >/build/log 2>&1 ||
    { tail -n 30 /build/log; exit 1; }'

check_in_chroot() {
  local install
  install=$(readme_commands README.md "### From the Debian package" | tail -n 1)
  export check_installed build_from_dsc install deb dsc
  in_fresh_chroot --customize-hook='mkdir -p "$1/src/build-package" "$1/build"' \
    --customize-hook="copy-in scripts /src" --customize-hook="copy-in $deb /src/build-package" \
    --customize-hook='echo "+ $install"; chroot "$1" sh -ec "cd /src && DEBIAN_FRONTEND=noninteractive $install" >/dev/null' \
    --customize-hook='chroot "$1" sh -ec "$check_installed"' \
    --customize-hook='autopkgtest "$deb" "$dsc" -- chroot "$1"' \
    --customize-hook="copy-in $dsc ${dsc%-*}.orig.tar.gz ${dsc%.dsc}.debian.tar.xz /build" \
    --customize-hook='chroot "$1" sh -ec "$build_from_dsc"' \
    --customize-hook="copy-out /build/$(basename "$deb") $work/from-dsc"
  cmp "$deb" "$work/from-dsc/$(basename "$deb")" ||
    { echo "the .dsc built in a clean chroot gives another package than $deb"; return 1; }
  echo "the .dsc, built in a clean chroot by a build user, gives $deb to the byte"
}

# The package again, one Debian revision higher.
build_next_version() {
  cp -a "$(echo "$folder"/brevinmarquest-*/)" "$work/next"
  local version
  version=$(dpkg-parsechangelog -l debian/changelog -S Version)
  { printf 'brevinmarquest (%s) unstable; urgency=medium\n\n  * A later revision, for the repository check.\n\n' "${version%-*}-$((${version##*-} + 1))"
    printf ' -- %s  %s\n\n' "$(dpkg-parsechangelog -l debian/changelog -S Maintainer)" "$(date -R)"
    cat debian/changelog; } >"$work/next/debian/changelog"
  (cd "$work/next" && dpkg-buildpackage --no-sign --build=any >/dev/null 2>&1)
  echo "$work"/brevinmarquest_*-"$((${version##*-} + 1))"_*.deb
}

# In the chroot: the package is installed at the version $want.
installed_is='v=$(dpkg-query -W -f="\${Version}" brevinmarquest); [ "$v" = "$want" ] || { echo "installed: $v, not $want"; exit 1; }'

check_repository() {
  local next port served
  next=$(build_next_version)
  GNUPGHOME=$work/gnupg
  mkdir -m 700 "$GNUPGHOME"
  GNUPGHOME=$GNUPGHOME gpg --batch --quiet --passphrase '' --quick-gen-key "repository check" ed25519 sign 1d 2>/dev/null
  APT_SIGNING_KEY=$(GNUPGHOME=$GNUPGHOME gpg --batch --armor --export-secret-keys)
  export APT_SIGNING_KEY
  served=$work/site
  scripts/apt-repository "$served/apt" "$deb" >/dev/null
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 -m http.server --bind 127.0.0.1 --directory "$served" "$port" >/dev/null 2>&1 &
  server=$!
  local pages
  pages=$(readme_commands README.md "$apt_heading" | grep -oE 'https://[^ ]*/apt' | head -n 1)
  readme_apt=$(readme_commands README.md "$apt_heading" | sed "s|$pages|http://127.0.0.1:$port/apt|g")
  first=$(dpkg-deb -f "$deb" Version) second=$(dpkg-deb -f "$next" Version)
  export readme_apt installed_is first second next served root work
  echo "the README's apt commands, with the repository on 127.0.0.1:"
  echo "$readme_apt"
  in_fresh_chroot \
    --customize-hook='chroot "$1" sh -ec "export DEBIAN_FRONTEND=noninteractive; $readme_apt" >/dev/null' \
    --customize-hook='chroot "$1" sh -ec "printf \"H 1 Q\nQ\n\" | brevinmarquest | grep -q \"^ERROR opening USB\"; want=$first; $installed_is"' \
    --customize-hook='"$root/scripts/apt-repository" "$served/apt" "$next" >/dev/null' \
    --customize-hook='chroot "$1" sh -ec "apt-get -q update >/dev/null; apt-get -q -y upgrade >/dev/null; want=$second; $installed_is"' \
    --customize-hook='chroot "$1" sh -ec "apt-get -q -y --allow-downgrades install brevinmarquest=$first >/dev/null; want=$first; $installed_is"' \
    --customize-hook='env -u APT_SIGNING_KEY "$root/scripts/apt-repository" "$served/apt" "$next" >/dev/null 2>&1' \
    --customize-hook='! chroot "$1" apt-get -q update --error-on=any >"$work/refused.log" 2>&1' \
    --customize-hook='grep -E "NO_PUBKEY|Missing key" "$work/refused.log"'
  echo "the repository installs the package as the README says, upgrades it to $second, installs $first again by name, and is refused once another key signs it"
}

apt_heading="### Debian and Ubuntu: apt"
recipe=$(readme_commands README.md "### From the Debian package")
[ "$(head -n 1 <<<"$recipe")" = scripts/build-package ] ||
  { echo "README.md's \"From the Debian package\" does not start with scripts/build-package"; exit 1; }
deb=$(scripts/build-package | tail -n 1)
dsc=$(echo "$root/$folder"/brevinmarquest_*.dsc)
check_package_files
check_no_stand_ins
check_home
prepare_clean_chroot || exit 0
work=$(mktemp -d)
server=
trap 'if [ -n "$server" ]; then kill "$server"; fi; GNUPGHOME=$work/gnupg gpgconf --kill all 2>/dev/null; rm -rf "$work"' EXIT
check_in_chroot
check_repository
