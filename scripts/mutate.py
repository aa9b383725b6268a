"""Runs the seeded faults of tests/mutants.txt (see scripts/mutate).

An entry names a file after "@ ", then the exact line to change after "- " (leading and trailing blanks
ignored; it must occur once in the file, or "[k] " before it picks its k-th occurrence), and its
replacement after "+ ". An entry marked "= equivalent: why" is not
run: the change cannot alter any result, and the list says why."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "mutate"
SRC = WORK / "src"
BUILD = WORK / "native"


def entries():
    out, current = [], None
    for number, line in enumerate((ROOT / "tests" / "mutants.txt").read_text("utf-8").splitlines(), 1):
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("@ "):
            current = {"file": line[2:].strip(), "at": number, "equivalent": None}
            out.append(current)
        elif line.startswith("- "):
            current["line"] = line[2:].strip()
        elif line.startswith("+ "):
            current["replacement"] = line[2:].strip()
        elif line.startswith("= equivalent:"):
            current["equivalent"] = line[len("= equivalent:"):].strip()
        else:
            sys.exit(f"mutants.txt:{number}: cannot read {line!r}")
    return out


def prepare():
    SRC.mkdir(parents=True, exist_ok=True)
    subprocess.run(["rsync", "-a", "--delete", "--exclude", "build/", "--exclude", ".git/", f"{ROOT}/", f"{SRC}/"],
                   check=True)
    if not (BUILD / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(SRC), "-B", str(BUILD), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1",
                        "-DVELTRA_SANITIZE=ON"], check=True, stdout=subprocess.DEVNULL)
    build = subprocess.run(["cmake", "--build", str(BUILD), "--target", "unit_tests"], capture_output=True,
                           text=True)
    if build.returncode != 0:
        sys.exit("mutate: the unmutated tree does not build:\n" + build.stdout[-3000:])
    if not tests_pass():
        sys.exit("mutate: the unit tests fail without any fault seeded")


def tests_pass():
    env = dict(os.environ, ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=0",
               UBSAN_OPTIONS="halt_on_error=1")
    try:
        run = subprocess.run([str(BUILD / "bin" / "unit_tests"), "--gtest_brief=1"], capture_output=True,
                             timeout=120, env=env, cwd=BUILD)
    except subprocess.TimeoutExpired:
        return False  # a hang is caught too
    return run.returncode == 0


def seed(entry):
    """Applies one fault; returns the file's original text, or None when the entry does not apply."""
    path = SRC / entry["file"]
    original = path.read_text("utf-8")
    lines = original.split("\n")
    wanted = entry["line"]
    occurrence = None
    if wanted.startswith("[") and "] " in wanted:
        occurrence = int(wanted[1:wanted.index("]")])
        wanted = wanted[wanted.index("] ") + 2:]
    hits = [i for i, line in enumerate(lines) if line.strip() == wanted]
    if occurrence is None and len(hits) != 1 or occurrence is not None and len(hits) < occurrence:
        return None
    i = hits[(occurrence or 1) - 1]
    indent = lines[i][:len(lines[i]) - len(lines[i].lstrip())]
    lines[i] = indent + entry["replacement"]
    path.write_text("\n".join(lines), "utf-8")
    return original


def main(selected):
    prepare()
    caught = missed = equivalent = broken = 0
    for entry in entries():
        name = f"{entry['file']}: {entry['line']}"
        if selected and not any(s in name for s in selected):
            continue
        if entry["equivalent"]:
            equivalent += 1
            print(f"equivalent  {name}\n            -> {entry['replacement']}  ({entry['equivalent']})", flush=True)
            continue
        original = seed(entry)
        if original is None:
            broken += 1
            print(f"NOT FOUND   {name} (mutants.txt line {entry['at']}): the line must occur once", flush=True)
            continue
        try:
            build = subprocess.run(["cmake", "--build", str(BUILD), "--target", "unit_tests"], capture_output=True)
            if build.returncode != 0:
                caught += 1
                verdict = "caught (does not compile)"
            elif tests_pass():
                missed += 1
                verdict = "MISSED"
            else:
                caught += 1
                verdict = "caught"
        finally:
            (SRC / entry["file"]).write_text(original, "utf-8")
        print(f"{verdict:<11} {name}\n            -> {entry['replacement']}", flush=True)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "unit_tests"], capture_output=True)
    print(f"{equivalent} marked equivalent" + (f", {broken} not found" if broken else ""))
    print(f"{caught} caught, {missed} missed")
    return 0 if missed == 0 and broken == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
