"""Fetches the C headers of CPython versions that this machine does not have, from the
libpython3.X-dev packages of another Debian release, for the Windows cross builds.

    debian_headers.py DIR SUITE VERSION...      e.g. build-windows/debian-forky forky 3.14 3.15

Nothing is installed into the system: apt reads a sources list of its own that names SUITE
on the mirror of this machine's own apt sources, keeps its package lists and downloads under
DIR, and checks the release file's signature with Debian's archive keyring. Each package is
unpacked with dpkg-deb, and only its include directory is kept:

    DIR/include/python3.X/          the headers (the Windows build adds its own pyconfig.h)
    DIR/include/python3.X.source    which package and version they come from, and where
    DIR/python3.X.skipped           or why there are none (the build skips that target)

Headers that were fetched once are kept: a later run neither updates nor downloads. A run
that cannot fetch (no apt, no network, no such package) writes its reason and exits 0, so
that the build goes on without that target; it tries again the next time.

DEBIAN_MIRROR and DEBIAN_KEYRING, if set, name the mirror and keyring instead."""

import glob
import os
import pathlib
import pwd
import re
import shutil
import subprocess
import sys
import tarfile

KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
# The headers are the same on every architecture but for pyconfig.h, which the build
# replaces; one architecture is fetched whatever this machine's is.
ARCHITECTURE = "amd64"


class Unavailable(Exception):
    """Why a version's headers cannot be had."""


def codename():
    try:
        text = pathlib.Path("/etc/os-release").read_text()
    except OSError:
        return None
    found = re.search(r"^VERSION_CODENAME=\"?([a-z]+)", text, re.M)
    return found.group(1) if found else None


def source_entries():
    """(types, URIs, suites, components) of every entry of this machine's apt sources, in
    both formats (one-line .list and deb822 .sources)."""
    entries = []
    lists = ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list"))
    for path in lists:
        try:
            lines = pathlib.Path(path).read_text(errors="replace").splitlines()
        except OSError:
            continue
        for line in lines:
            line = re.sub(r"\[[^\]]*\]", " ", line.split("#", 1)[0]).split()
            if len(line) >= 3:
                entries.append(([line[0]], [line[1]], [line[2]], line[3:]))
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        try:
            text = pathlib.Path(path).read_text(errors="replace")
        except OSError:
            continue
        for stanza in re.split(r"\n\s*\n", text):
            fields = {}
            for line in stanza.splitlines():
                if line.startswith("#") or ":" not in line or line[:1].isspace():
                    continue
                key, value = line.split(":", 1)
                fields[key.strip().lower()] = value.split()
            if fields.get("enabled", ["yes"])[0].lower() == "no":
                continue
            if "uris" in fields and "suites" in fields:
                entries.append((fields.get("types", []), fields["uris"], fields["suites"],
                                fields.get("components", [])))
    return entries


def mirror():
    """The Debian mirror that this machine's own apt sources use for its release."""
    if os.environ.get("DEBIAN_MIRROR"):
        return os.environ["DEBIAN_MIRROR"].rstrip("/")
    own = codename()
    entries = [entry for entry in source_entries() if "deb" in entry[0] and "main" in entry[3]]
    # The entry for this release first; else any main archive (not -security, -updates...).
    for wanted in ([own] if own else []), None:
        for _, uris, suites, _ in entries:
            if any(suite == own if wanted else "-" not in suite and "/" not in suite for suite in suites):
                for uri in uris:
                    if "security" not in uri:
                        return uri.rstrip("/")
    raise Unavailable("no Debian mirror found in this machine's apt sources (/etc/apt; "
                      "set DEBIAN_MIRROR)")


class Apt:
    """apt-get with a configuration of its own under DIR/apt."""

    def __init__(self, directory, suite):
        self.root = directory / "apt"
        self.suite = suite
        self.keyring = os.environ.get("DEBIAN_KEYRING") or KEYRING
        state, cache, etc = self.root / "state", self.root / "cache", self.root / "etc"
        for folder in (state / "lists" / "partial", cache / "archives" / "partial",
                       etc / "sources.list.d", etc / "preferences.d", self.root / "debs"):
            folder.mkdir(parents=True, exist_ok=True)
        (state / "status").touch()
        self.options = [
            "-o", "Dir::Etc::SourceList=%s" % (etc / "sources.list"),
            "-o", "Dir::Etc::SourceParts=%s" % (etc / "sources.list.d"),
            "-o", "Dir::Etc::Preferences=%s" % (etc / "preferences"),
            "-o", "Dir::Etc::PreferencesParts=%s" % (etc / "preferences.d"),
            "-o", "Dir::State=%s" % state,
            "-o", "Dir::State::status=%s" % (state / "status"),
            "-o", "Dir::Cache=%s" % cache,
            "-o", "APT::Architecture=%s" % ARCHITECTURE,
            "-o", "APT::Architectures=%s" % ARCHITECTURE,
            "-o", "Acquire::Languages=none",
            # The mirror's release file for this suite is past its valid-until date.
            "-o", "Acquire::Check-Valid-Until=false",
            # An unreachable mirror ends the run soon, not after minutes of retries.
            "-o", "Acquire::Retries=0",
            "-o", "Acquire::http::Timeout=20",
            "-o", "Acquire::https::Timeout=20",
            "-q",
        ]
        self.updated = False

    def run(self, *arguments, cwd=None):
        try:
            return subprocess.run(["apt-get", *self.options, *arguments], cwd=cwd, capture_output=True,
                                  text=True, timeout=600, env=dict(os.environ, LC_ALL="C.UTF-8"))
        except (OSError, subprocess.TimeoutExpired) as error:
            raise Unavailable("apt-get %s failed: %s" % (arguments[0], error))

    def update(self):
        if self.updated:
            return
        if not shutil.which("apt-get") or not shutil.which("dpkg-deb"):
            raise Unavailable("apt-get or dpkg-deb is missing (not a Debian system)")
        if not os.path.exists(self.keyring):
            raise Unavailable("no archive keyring %s (Debian's debian-archive-keyring)" % self.keyring)
        self.source = "%s %s main" % (mirror(), self.suite)
        (self.root / "etc" / "sources.list").write_text(
            "deb [signed-by=%s] %s\n" % (self.keyring, self.source))
        done = self.run("update")
        # apt-get update exits 0 when a source could not be read; its warnings tell.
        problems = [line for line in (done.stdout + done.stderr).splitlines()
                    if line.startswith(("E:", "W:")) and "unsandboxed" not in line
                    and "index files failed to download" not in line]
        if done.returncode != 0 or problems:
            raise Unavailable("apt-get update from %s failed: %s" % (self.source, " ".join(problems)[-400:]
                                                                    or done.stderr.strip()[-400:]))
        self.updated = True

    def download(self, package):
        """The .deb file of the package (already downloaded, or downloaded now)."""
        debs = self.root / "debs"
        found = sorted(debs.glob("%s_*_%s.deb" % (package, ARCHITECTURE)))
        if found:
            return found[-1]
        self.update()
        try:
            listed = subprocess.run(["apt-cache", *self.options, "show", "--no-all-versions", package],
                                    capture_output=True, text=True, timeout=120)
        except (OSError, subprocess.TimeoutExpired) as error:
            raise Unavailable("apt-cache failed: %s" % error)
        if listed.returncode != 0 or not listed.stdout.strip():
            raise Unavailable("Debian %s has no package %s (%s)" % (self.suite, package, self.source))
        # apt drops its rights to the _apt user for downloads when run as root; that user
        # must be able to write where the file goes.
        partial = debs / "partial"
        partial.mkdir(exist_ok=True)
        owner = None
        if os.geteuid() == 0:
            try:
                owner = pwd.getpwnam("_apt")
                os.chown(partial, owner.pw_uid, owner.pw_gid)
            except KeyError:
                pass
        done = self.run("download", package, cwd=str(partial))
        fetched = sorted(partial.glob("%s_*.deb" % package))
        if done.returncode != 0 or not fetched:
            raise Unavailable("apt-get download %s from %s failed: %s"
                              % (package, self.source, done.stderr.strip()[-400:]))
        target = debs / fetched[-1].name
        if owner is not None:
            os.chown(fetched[-1], os.getuid(), os.getgid())
        os.replace(fetched[-1], target)
        shutil.rmtree(partial)
        return target


def unpack_headers(deb, version, include):
    """Unpacks usr/include/pythonX.Y/ of the package into include/pythonX.Y/ (regular files
    and folders only), by way of a folder that is renamed into place when complete."""
    name = "python%s" % version
    prefix = "./usr/include/%s/" % name
    target, partial = include / name, include / (name + ".partial")
    shutil.rmtree(partial, ignore_errors=True)
    partial.mkdir(parents=True)
    tar = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", str(deb)], stdout=subprocess.PIPE)
    count = 0
    with tarfile.open(fileobj=tar.stdout, mode="r|") as archive:
        for member in archive:
            if not member.name.startswith(prefix) or ".." in member.name.split("/"):
                continue
            path = partial / member.name[len(prefix):]
            if member.isdir():
                path.mkdir(parents=True, exist_ok=True)
            elif member.isfile():
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(archive.extractfile(member).read())
                count += 1
    if tar.wait() != 0:
        raise Unavailable("dpkg-deb could not read %s" % deb)
    patchlevel = partial / "patchlevel.h"
    if not (partial / "Python.h").exists() or not patchlevel.exists():
        raise Unavailable("%s holds no CPython headers under %s" % (deb.name, prefix))
    found = re.search(r'#define\s+PY_VERSION\s+"([^"]+)"', patchlevel.read_text())
    if not found or not (found.group(1) + ".").startswith(version + "."):
        raise Unavailable("%s holds headers of CPython %s, not %s"
                          % (deb.name, found.group(1) if found else "(unknown)", version))
    shutil.rmtree(target, ignore_errors=True)
    os.replace(partial, target)
    return found.group(1), count


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    directory, suite, versions = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3:]
    include = directory / "include"
    include.mkdir(parents=True, exist_ok=True)
    apt = Apt(directory, suite)
    for version in versions:
        headers, source = include / ("python%s" % version), include / ("python%s.source" % version)
        skipped = directory / ("python%s.skipped" % version)
        if (headers / "Python.h").exists() and source.exists():
            print("CPython %s headers: %s (%s)" % (version, headers, source.read_text().strip()))
            continue
        package = "libpython%s-dev" % version
        try:
            deb = apt.download(package)
            full_version, count = unpack_headers(deb, version, include)
        except (Unavailable, OSError, tarfile.TarError) as error:
            skipped.write_text("CPython %s headers not fetched: %s\n" % (version, error))
            print(skipped.read_text().strip())
            continue
        source.write_text("%s from %s (CPython %s, %d headers)\n"
                          % (deb.name, getattr(apt, "source", "an earlier download"), full_version, count))
        if skipped.exists():
            skipped.unlink()
        print("CPython %s headers: %s (%s)" % (version, headers, source.read_text().strip()))
    # The package lists are needed only to download; the .deb files stay for a re-unpack.
    shutil.rmtree(apt.root / "state" / "lists", ignore_errors=True)


if __name__ == "__main__":
    main()
