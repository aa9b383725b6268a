"""The packages a technician gets: the exe's resources, the zip's contents, the MSI installed, used,
reinstalled, upgraded and removed in a fresh Wine prefix, and the optional signatures."""

import os
import re
import shutil
import subprocess
from pathlib import Path

from harness import (BIN, MANUAL, NATIVE_BIN, ROOT, SCRATCH, Tool, check, track, uidriver, wait_until,
                     win_path)

VERSION = re.search(r'set\(VELTRA_VERSION "([0-9.]+)"', (ROOT / "CMakeLists.txt").read_text()).group(1)
FILES = {"VeltraSeam.exe", "ledsim.exe", "devicecomm.ini", MANUAL} | {
    f"xml/{p.name}" for p in (ROOT / "xml").glob("*.xml")}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comdlg32.dll", "ws2_32.dll",
               "msvcrt.dll", "advapi32.dll", "comctl32.dll"}
INSTALL = Path("drive_c/Program Files/Veltra-Seam")


def package(dist, version=None, **extra):
    """Runs scripts/package into `dist`; returns the paths of the MSI and the zip."""
    env = dict(os.environ, VELTRA_DIST=str(dist), **extra)
    if version:
        env["VELTRA_VERSION"] = version
    proc = subprocess.run([str(ROOT / "scripts" / "package")], env=env, capture_output=True, text=True,
                          timeout=900)
    check(proc.returncode == 0, f"scripts/package failed: {proc.stdout[-2000:]}{proc.stderr[-2000:]}")
    name = f"VeltraSeam-{version or VERSION}-x64"
    return dist / f"{name}.msi", dist / f"{name}.zip"


def resource(exe, kind):
    return subprocess.run(["wrestool", "-x", "--raw", "-t", kind, str(exe)], capture_output=True, check=True).stdout


def files_under(folder):
    return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}


def shortcuts(msi):
    """Name, target and arguments of each Start-menu entry in the MSI's Shortcut table."""
    rows = subprocess.run(["msiinfo", "export", str(msi), "Shortcut"], capture_output=True, text=True,
                          check=True).stdout.splitlines()[3:]
    return {r.split("\t")[2].split("|")[-1]: tuple(r.split("\t")[4:6]) for r in rows}


class Prefix:
    """A fresh Wine prefix (a copy of the tests' one) with a Wine server of its own, on the same display."""

    def __init__(self, name):
        self.path = SCRATCH / name
        shutil.rmtree(self.path, ignore_errors=True)
        subprocess.run(["cp", "-a", os.environ["WINEPREFIX"], str(self.path)], check=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.path))
        track(subprocess.Popen(["wineserver", "-f", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL))
        self.wine("cmd", "/c", "exit")  # its helpers start now, not under a later capture

    def wine(self, *args, timeout=120):
        out = self.path / "out.txt"
        with open(out, "wb") as f:  # a file, not a pipe: Wine's helpers may hold it open
            rc = subprocess.run(["wine", *args], env=self.env, stdout=f, stderr=subprocess.DEVNULL,
                                timeout=timeout).returncode
        return rc, out.read_text("utf-8", "replace")

    def msiexec(self, *args):
        rc, _ = self.wine("msiexec", *args, "/qn")
        check(rc == 0, f"msiexec {' '.join(args)} exited {rc}")

    def installed(self):
        """Entries of the installed programs named Veltra-Seam."""
        return [line for line in self.wine("uninstaller", "--list")[1].splitlines() if "Veltra-Seam" in line]

    def start_menu(self):
        found = list(self.path.glob("drive_c/**/Start Menu/Programs/Veltra-Seam"))
        return found[0] if found else None

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def test_exe_resources_and_the_zip_hold_exactly_the_package():
    exe = BIN / "VeltraSeam.exe"
    imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                             check=True).stdout
    dlls = {m.lower() for m in re.findall(r"DLL Name: (\S+)", imports)}
    check(dlls and dlls <= SYSTEM_DLLS, f"imports beyond the system's DLLs: {dlls - SYSTEM_DLLS}")
    manifest = resource(exe, "24").decode()
    for text in ("PerMonitorV2, PerMonitor", "true/pm", 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"',
                 'level="asInvoker"', "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"):
        check(text in manifest, f"the manifest lacks {text}")
    version = resource(exe, "16").decode("utf-16-le", "replace")
    for text in ("Veltra-Seam", "ProductVersion", VERSION, "LegalCopyright", "FileDescription"):
        check(text in version, f"the version information lacks {text}")
    icons = resource(exe, "14")
    check(int.from_bytes(icons[4:6], "little") >= 5, "the icon has its five sizes")
    title = subprocess.run(["pdftotext", "-l", "1", str(BIN / MANUAL), "-"], capture_output=True, text=True,
                           check=True).stdout
    check(f"版本 {VERSION}" in title, "the manual's title page names the version")

    msi, zipped = package(SCRATCH / "dist")
    names = subprocess.run(["unzip", "-Z1", str(zipped)], capture_output=True, check=True).stdout.decode()
    top = f"VeltraSeam-{VERSION}-x64/"
    check({n[len(top):] for n in names.split("\n") if n and not n.endswith("/")} == FILES
          and all(n.startswith(top) for n in names.split("\n") if n), f"the zip holds {names.split()}")


def test_msi_installs_runs_reinstalls_upgrades_and_uninstalls_completely():
    msi, _ = package(SCRATCH / "dist")
    prefix = Prefix("install-prefix")
    try:
        prefix.msiexec("/i", win_path(msi))
        folder = prefix.path / INSTALL
        check(files_under(folder) == FILES, f"installed {files_under(folder)}")
        menu = prefix.start_menu()
        check(menu is not None and len(list(menu.glob("*.lnk"))) == 3, "three Start-menu entries")
        entries = shortcuts(msi)
        check(entries == {"Veltra-Seam": ("[INSTALLDIR]VeltraSeam.exe", ""),
                          "模拟墙 (ledsim)": ("[INSTALLDIR]ledsim.exe", "serve"),
                          "Veltra-Seam 使用文档": (f"[INSTALLDIR]{MANUAL}", "")}, f"the entries: {entries}")

        # The practice wall from the installed folder, and the operator's own devicecomm.ini pointing at it.
        wall = track(subprocess.Popen(["wine", str(folder / "ledsim.exe"), "serve", "--listen", "127.0.0.1:0"],
                                      env=prefix.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL))
        port = int(re.search(rb":(\d+)", wall.stdout.readline()).group(1))
        local = next(p for p in prefix.path.glob("drive_c/users/*/AppData/Local") if "Public" not in str(p))
        (local / "Veltra-Seam").mkdir(exist_ok=True)
        (local / "Veltra-Seam" / "devicecomm.ini").write_text(
            f"[controller]\r\naddress=127.0.0.1\r\nport={port}\r\n", "ascii")

        record = SCRATCH / "installed-opened.txt"
        record.unlink(missing_ok=True)
        prefix.wine("reg", "add", r"HKCR\.pdf", "/ve", "/d", "VeltraManualTest", "/f")
        prefix.wine("reg", "add", r"HKCR\VeltraManualTest\shell\open\command", "/ve", "/d",
                    f'"{win_path(BIN / "stand_in.exe")}" record "{win_path(record)}" "%1"', "/f")
        tool = Tool(folder, name="installed", env=prefix.env).start().wait_ready()
        uidriver("click", "btn_op_instruction", env=prefix.env)
        opened = wait_until(lambda: record.exists() and record.read_text("utf-8").splitlines(), timeout=20,
                            message="the manual opened")
        check(opened[0] == "C:\\Program Files\\Veltra-Seam\\" + MANUAL, f"opened {opened}")
        uidriver("click", "chkbox_Enable", env=prefix.env)

        def switched_on():
            out = subprocess.run([str(NATIVE_BIN / "ledsim"), "read", "--connect", f"127.0.0.1:{port}", "0", "0",
                                  hex(0xDA000005), "4"], capture_output=True, text=True, timeout=30)
            return out.stdout.strip() == "000000a8"
        wait_until(switched_on, timeout=20, message="the installed wall's first card switched on")
        wall.kill()  # a running program's file would outlive the uninstall, as on Windows
        wall.wait(timeout=10)
        uidriver("click", "closebtn", env=prefix.env)
        check(tool.wait_exit() == 0, "the installed tool ends with 0")
        check(files_under(folder) == FILES, "the tool wrote nothing into its install folder")

        prefix.msiexec("/i", win_path(msi))
        check(len(prefix.installed()) == 1, f"the same version again: {prefix.installed()}")
        newer, _ = package(SCRATCH / "dist-next", "1.0.1")
        try:
            prefix.msiexec("/i", win_path(newer))
        finally:
            package(SCRATCH / "dist")  # the build tree back at the version of CMakeLists.txt
        check(len(prefix.installed()) == 1, f"1.0.1 over {VERSION}: {prefix.installed()}")
        check(b"1.0.1" in resource(folder / "VeltraSeam.exe", "16").replace(b"\0", b""), "1.0.1 is installed")
        check(files_under(folder) == FILES, f"one copy of the files: {files_under(folder)}")

        prefix.msiexec("/x", win_path(newer))
        check(not folder.exists() or not files_under(folder), f"left after uninstall: {files_under(folder)}")
        check(prefix.start_menu() is None, "the Start-menu folder is gone")
        check(prefix.installed() == [], f"installed programs still list {prefix.installed()}")
    finally:
        prefix.stop()


def test_signed_exe_and_msi_verify_against_the_certificate():
    keys = SCRATCH / "signing"
    shutil.rmtree(keys, ignore_errors=True)
    keys.mkdir(parents=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=Veltra-Seam test signing", "-keyout", str(keys / "key.pem"), "-out", str(keys / "cert.pem"),
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(keys / "key.pem"), "-in", str(keys / "cert.pem"),
                    "-out", str(keys / "test.pfx"), "-passout", "pass:throwaway"], check=True, capture_output=True)
    msi, zipped = package(SCRATCH / "dist-signed", VELTRA_SIGN_PFX=str(keys / "test.pfx"),
                          VELTRA_SIGN_PASSWORD="throwaway")
    exe = keys / "VeltraSeam.exe"
    exe.write_bytes(subprocess.run(["unzip", "-p", str(zipped), f"VeltraSeam-{VERSION}-x64/VeltraSeam.exe"],
                                   capture_output=True, check=True).stdout)
    for signed in (exe, msi):
        out = subprocess.run(["osslsigncode", "verify", "-CAfile", str(keys / "cert.pem"), "-in", str(signed)],
                             capture_output=True, text=True)
        check(out.returncode == 0 and "Signature verification: ok" in out.stdout,
              f"{signed.name}: {out.stdout[-600:]}{out.stderr[-300:]}")
