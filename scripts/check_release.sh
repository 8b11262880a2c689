#!/usr/bin/env bash
# Makes the release files with scripts/release and checks them as users get them: their
# checksums hold; the Windows tool, unzipped, runs under wine in a fresh prefix with the stand-in
# FTD2XX.dll only in the system folder, where FTDI's driver puts the real one, and sends the bytes
# typed to it; the tarball builds without git by the README's steps from source, and its Debian
# package, built in another folder, is the released one to the byte; the Homebrew formula, the
# Scoop manifest and the winget manifests name the release's files with their hashes and pass
# what can be checked without their package managers (see scripts/check_manifests.py and
# scripts/check_formula.rb).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

scripts/release
# As the README's section Download prints it.
(cd dist && sha256sum -c --ignore-missing SHA256SUMS)
for file in dist/*; do
  [ -d "$file" ] || grep -q " ${file#dist/}\$" dist/SHA256SUMS || [ "$file" = dist/SHA256SUMS ] ||
    { echo "SHA256SUMS does not cover $file"; exit 1; }
done
# The apt repository's indexes are signed by the key beside them, and name every package.
keyring=$(mktemp)
gpg --dearmor <dist/apt/brevinmarquest-archive-keyring.asc >"$keyring"
gpgv --keyring "$keyring" dist/apt/dists/stable/InRelease
gpgv --keyring "$keyring" dist/apt/dists/stable/Release.gpg dist/apt/dists/stable/Release
rm -f "$keyring"
for deb in dist/*.deb; do
  grep -q "^Filename: pool/main/b/brevinmarquest/$(basename "$deb")$" dist/apt/dists/stable/main/binary-*/Packages ||
    { echo "dist/apt does not hold $deb"; exit 1; }
done
echo "SHA256SUMS covers every file of dist/; dist/apt is signed by its key and holds both packages"
tarball=$(echo dist/brevinmarquest-*.tar.gz)
name=$(basename "$tarball" .tar.gz)
version=${name#brevinmarquest-}
python3 scripts/check_manifests.py dist "$version"
for formula in Formula/brevinmarquest.rb dist/brevinmarquest.rb; do ruby -wc "$formula"; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stand-in device for Windows, from this tree's Windows build.
cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake -DBREVINMARQUEST_WERROR=ON >/dev/null
cmake --build build-windows -j "$(nproc)" --target simulated_device
mkdir "$work/zip"
(
  start_fresh_wine
  cp build-windows/sim/FTD2XX.dll "$WINEPREFIX/drive_c/windows/system32/"
  cd "$work/zip"
  unzip -q "$root/dist/$name-windows-x64.zip"
  # As the zip's README.txt says to feed it a script.
  printf 'H 1 2 255 Q\r\nQ\r\n' >session.txt
  BREVINMARQUEST_SIM_RECEIVED=received.bin wine cmd /c "type session.txt | brevinmarquest.exe" \
    </dev/null >out.txt
  grep -q '^USB Interface Opened Successfully!' out.txt
  grep -q '   3 total bytes written' out.txt
  [ "$(od -An -tu1 received.bin | xargs)" = "1 2 255" ]
  echo "the zip's brevinmarquest.exe finds FTD2XX.dll in the system folder and sends 1 2 255"
)

# A git that fails stands in for none.
mkdir "$work/no-git" "$work/unpacked-in-another-folder"
printf '#!/bin/sh\necho git is not here >&2\nexit 1\n' >"$work/no-git/git"
chmod +x "$work/no-git/git"
tar -xzf "$tarball" -C "$work/unpacked-in-another-folder"
source_tree=$work/unpacked-in-another-folder/$name
from_source=$(readme_commands "$source_tree/README.md" "### From source" | { grep -E '^cmake (-S|--build) ' || true; })
[ -n "$from_source" ] || { echo "the tarball's README has no cmake step under \"From source\""; exit 1; }
(
  cd "$source_tree"
  export PATH=$work/no-git:$PATH
  echo "building the tarball without git, as its README says:"
  echo "$from_source"
  bash -euo pipefail -c "$from_source"
  python3 tests/run_transcripts.py --tool build-release/src/brevinmarquest --sim-dir build-release/sim \
    --no-driver-dir build-release/no-driver tests/transcripts/hand.test
  deb=$(scripts/build-package | tail -n 1)
  cmp "$deb" "$root/dist/brevinmarquest_$version-1_amd64.deb"
  echo "the tarball builds without git, and its package is the released one to the byte"
)
# Homebrew's install and test of the formula, by a stand-in for its formula DSL; the tool then
# finds only the build's driver libraries without calls.
ruby scripts/check_formula.rb dist/brevinmarquest.rb dist "$source_tree/build-release/no-driver"
