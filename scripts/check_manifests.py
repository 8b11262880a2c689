#!/usr/bin/env python3
"""Checks what scripts/package-manifests wrote into DIST for the release files of VERSION, offline:
scripts/check_manifests.py DIST VERSION. The Scoop manifest, and the one in bucket/, pass Scoop's
schema; the three winget manifests pass winget's 1.28.0 schemas; and the formula, the Scoop
manifest and the winget installer name the tarball and the zip by their release addresses under
HOMEPAGE_URL of the last commit's CMakeLists.txt, with the sha256 of the files in DIST that
SHA256SUMS gives too. The schemas are the copies in packaging/schemas/."""
import hashlib
import json
import re
import subprocess
import sys
from pathlib import Path

import jsonschema
import yaml

ROOT = Path(__file__).resolve().parent.parent
SCHEMAS = ROOT / "packaging" / "schemas"
WINGET_ID = "Brevinmarquest.Brevinmarquest"
WINGET_KINDS = {"version": f"{WINGET_ID}.yaml", "defaultLocale": f"{WINGET_ID}.locale.en-US.yaml",
                "installer": f"{WINGET_ID}.installer.yaml"}


class TextLoader(yaml.SafeLoader):
    """Keeps dates and versions as the text they are, as winget reads them: PyYAML's safe loader
    would make 2026-01-01 a date and 1.10 a number, which their schemas refuse."""


TextLoader.yaml_implicit_resolvers = {
    first: [(tag, pattern) for tag, pattern in resolvers
            if tag not in ("tag:yaml.org,2002:timestamp", "tag:yaml.org,2002:float")]
    for first, resolvers in yaml.SafeLoader.yaml_implicit_resolvers.items()}


def validate(document, schema_file, name):
    schema = json.loads((SCHEMAS / schema_file).read_text())
    validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
    errors = [f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}"
              for error in validator.iter_errors(document)]
    if errors:
        sys.exit("\n".join(errors))
    print(f"{name} passes {schema_file}")


def expect(name, what, found, wanted):
    if found != wanted:
        sys.exit(f"{name}: {what} is {found!r}, not {wanted!r}")


def released_files(dist, version):
    """The release address and sha256 of the tarball and of the zip, which SHA256SUMS agrees with."""
    cmake = subprocess.run(["git", "-C", str(ROOT), "show", "HEAD:CMakeLists.txt"], check=True,
                           capture_output=True, text=True).stdout
    home = re.search(r'\bHOMEPAGE_URL "([^"]+)"', cmake)[1].rstrip("/")
    sums = dict(reversed(line.split(maxsplit=1)) for line in (dist / "SHA256SUMS").read_text().splitlines())
    released = {}
    for kind, name in (("tarball", f"brevinmarquest-{version}.tar.gz"),
                       ("zip", f"brevinmarquest-{version}-windows-x64.zip")):
        digest = hashlib.sha256((dist / name).read_bytes()).hexdigest()
        expect("SHA256SUMS", name, sums.get(name), digest)
        released[kind] = (f"{home}/releases/download/v{version}/{name}", digest)
    return released


def check_formula(dist, released):
    fields = dict(re.findall(r'^  (url|sha256) "([^"]*)"$', (dist / "brevinmarquest.rb").read_text(), re.M))
    expect("brevinmarquest.rb", "its url and sha256", (fields.get("url"), fields.get("sha256")),
           released["tarball"])


def check_scoop(dist, version, released):
    validate(json.loads((ROOT / "bucket" / "brevinmarquest.json").read_text()), "scoop/schema.json",
             "bucket/brevinmarquest.json")
    scoop = json.loads((dist / "brevinmarquest.json").read_text())
    validate(scoop, "scoop/schema.json", "brevinmarquest.json")
    expect("brevinmarquest.json", "version", scoop["version"], version)
    x64 = scoop["architecture"]["64bit"]
    expect("brevinmarquest.json", "64bit url and hash", (x64["url"], x64["hash"]), released["zip"])


def check_winget(dist, version, released):
    folder = dist / "winget" / "manifests" / "b" / "Brevinmarquest" / "Brevinmarquest" / version
    expect("winget", f"the files in {folder}", sorted(p.name for p in folder.iterdir()),
           sorted(WINGET_KINDS.values()))
    manifests = {kind: yaml.load((folder / name).read_text(), Loader=TextLoader)
                 for kind, name in WINGET_KINDS.items()}
    for kind, manifest in manifests.items():
        validate(manifest, f"winget-1.28.0/manifest.{kind}.1.28.0.json", WINGET_KINDS[kind])
        expect(WINGET_KINDS[kind], "PackageVersion", manifest["PackageVersion"], version)
    installer = manifests["installer"]
    expect(WINGET_KINDS["installer"], "its installer",
           {key: installer[key] for key in ("InstallerType", "NestedInstallerType", "NestedInstallerFiles")},
           {"InstallerType": "zip", "NestedInstallerType": "portable",
            "NestedInstallerFiles": [{"RelativeFilePath": "brevinmarquest.exe",
                                      "PortableCommandAlias": "brevinmarquest"}]})
    installers = [(entry["InstallerUrl"], entry["InstallerSha256"].lower()) for entry in installer["Installers"]]
    expect(WINGET_KINDS["installer"], "Installers", installers, [released["zip"]])


def main():
    dist, version = Path(sys.argv[1]), sys.argv[2]
    released = released_files(dist, version)
    check_formula(dist, released)
    check_scoop(dist, version, released)
    check_winget(dist, version, released)
    print(f"the formula, the Scoop manifest and the winget manifests name {version}'s files with their sha256")


if __name__ == "__main__":
    main()
