#!/usr/bin/env bash
# Builds the Debian package with the README's own recipe, checks it with lintian, then installs
# it on this machine as the README says, runs the installed tool from PATH on the simulated
# device, finds its manual page, purges it and checks that none of its files is left. The
# machine is given back as it was, whatever fails on the way.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

deb_name=brevinmarquest
folder=build-package

ensure_packages $packages_package

check_package_file() {
  local deb=$1
  python3 tests/check_man_page.py "$folder/doc/brevinmarquest.1" src
  local changelog_version
  changelog_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
  [ "$changelog_version" = "$(dpkg-deb -f "$deb" Version)" ] ||
    { echo "debian/changelog names $changelog_version, the package is $(dpkg-deb -f "$deb" Version)"; return 1; }
  lintian --fail-on error --info "$deb"
  echo "lintian finds no error in $deb; the manual page renders without a warning"
}

# The tool ships no library: one in the package or a plain install would be a stand-in device.
check_no_stand_ins() {
  local deb=$1 plain
  plain=$(mktemp -d)
  cmake --install "$folder" --prefix "$plain" >/dev/null
  local found
  found=$( (dpkg-deb -c "$deb"; find "$plain") | grep -E '\.(so|dll|dylib)([. ]|$)' || true)
  rm -rf "$plain"
  [ -z "$found" ] || { echo "a library is installed with the tool: $found"; return 1; }
}

# What dpkg knows of the package: installed, not-installed, config-files, half-installed...
package_state() {
  dpkg-query -W -f='${db:Status-Status}' "$deb_name" 2>/dev/null || echo not-installed
}

can_change_machine() {
  if ! find_root "installing the package" "./run-tests package" 2>/dev/null; then
    echo "SKIPPED: installing the package needs root, or sudo that asks no password here"
    return 1
  fi
  if [ "$(package_state)" != not-installed ]; then
    echo "SKIPPED: $deb_name is installed on this machine already; it is left alone"
    return 1
  fi
}

# Minimal images tell dpkg to drop manual pages and documents. The check lifts that for this
# package's own files only, while it runs, so that it sees what a normal system gets.
reinclude=/etc/dpkg/dpkg.cfg.d/zz-brevinmarquest-check
lift_dpkg_excludes() {
  if cat /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/* 2>/dev/null |
      grep -qE '^[[:space:]]*path-exclude[[:space:]=]+/usr/share/(man|doc)'; then
    echo "dpkg here leaves out /usr/share/man or /usr/share/doc; taking $deb_name's files in for this check"
    printf 'path-include=/usr/share/man/man1/%s.1.gz\npath-include=/usr/share/doc/%s/*\n' "$deb_name" "$deb_name" |
      "${as_root[@]}" tee "$reinclude" >/dev/null
  fi
}

give_machine_back() {
  if [ "$(package_state)" != not-installed ]; then
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y "$deb_name" >/dev/null || true
  fi
  "${as_root[@]}" rm -f "$reinclude"
  rm -rf "$work"
}

# Paths that were there before the install may stay after the purge: folders such as /usr/bin.
paths_in_package() {
  dpkg-deb --fsys-tarfile "$1" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d'
}

check_installed() {
  local tool
  tool=$(command -v brevinmarquest) || { echo "brevinmarquest is not on PATH"; return 1; }
  file -L "$tool" | grep -q ', stripped' || { echo "$tool is not stripped"; return 1; }
  cmake --install "$folder" --component sim --prefix "$work/sim" >/dev/null
  local sim_dir=$work/sim/lib/brevinmarquest/sim
  python3 tests/run_transcripts.py --tool "$tool" --sim-dir "$sim_dir" tests/package/installed.test
  local page
  page=$(MAN_DISABLE_SECCOMP=1 man -w brevinmarquest) || { echo "man -w does not find the page"; return 1; }
  echo "manual page: $page"
  [ -f "/usr/lib/udev/rules.d/60-$deb_name.rules" ] || { echo "the udev rule is not installed"; return 1; }
  [ -f "/usr/share/doc/$deb_name/copyright" ] || { echo "the copyright file is not installed"; return 1; }
}

check_nothing_left() {
  local leftovers=0 path
  while read -r path; do
    if { [ -e "$path" ] || [ -L "$path" ]; } && ! grep -qxF "$path" "$work/existed-before"; then
      echo "left behind: $path"
      leftovers=1
    fi
  done <"$work/installed-files"
  if [ "$(package_state)" != not-installed ]; then
    echo "$deb_name is still known to dpkg as $(package_state)"
    leftovers=1
  fi
  return "$leftovers"
}

recipe=$(readme_commands README.md "### From the Debian package")
[ -n "$recipe" ] || { echo "README.md has no command under \"From the Debian package\""; exit 1; }
deb=$(scripts/build-package | tail -n 1)
check_package_file "$deb"
check_no_stand_ins "$deb"
can_change_machine || exit 0

work=$(mktemp -d)
trap give_machine_back EXIT
chmod 755 "$work"
paths_in_package "$deb" | while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done >"$work/existed-before"
lift_dpkg_excludes
echo "installing $deb on this machine with the README's recipe; it is purged again at the end:"
echo "$recipe"
# What the package recommends is installed for this stage beforehand, so that the purge gives the
# machine back as it was.
DEBIAN_FRONTEND=noninteractive bash -euo pipefail -c "$recipe" </dev/null
dpkg -L "$deb_name" | grep -vx '/\.' >"$work/installed-files"
check_installed
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -q -y "$deb_name"
check_nothing_left
echo "the package installs, works from PATH and purges without a trace"
