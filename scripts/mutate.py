"""Runs seeded faults against the native unit tests (see scripts/mutate).

Hand-made faults: tests/mutants.txt. An entry names a file after "@ ", then the exact line to change after
"- " (leading and trailing blanks ignored; it must occur once in the file, or "[k] " before it picks its
k-th occurrence), and its replacement after "+ ". An entry marked "= equivalent: why" is not run: the
change cannot alter any result, and the list says why.

Faults made by rule (--rules, see mutate_rules.py): of the files named, or by default of those listed in
tests/mutants-files.txt. Those that cannot alter any result are listed in tests/mutants-equivalent.txt in
the same form as the hand list, with "= why"; they are matched by file and by the text of the line, so
edits elsewhere in the file do not unsettle them. The rule-made faults of a file are built into it all at
once, each behind its number (VELTRA_MUTANT), so that a fault costs a run of the tests and not a build.

Each worker (-j, default 2) has its own scratch tree: build/mutate/src and build/mutate/native, then
build/mutate/1/..., built without optimising (the faults need the sanitizers, not the speed)."""

import argparse
import collections
import os
import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import mutate_rules

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "mutate"
HAND_LIST = ROOT / "tests" / "mutants.txt"
RULE_FILES = ROOT / "tests" / "mutants-files.txt"
EQUIVALENT = ROOT / "tests" / "mutants-equivalent.txt"


class Scratch:
    """A copy of the tree and its native build (ASan and UBSan, as scripts/test builds the unit tests):
    a fault is seeded into the copy, and ninja recompiles only the changed file and relinks."""

    def __init__(self, index):
        base = WORK if index == 0 else WORK / str(index)
        self.src = base / "src"
        self.build = base / "native"
        self.test_timeout = 120.0

    def prepare(self):
        self.src.mkdir(parents=True, exist_ok=True)
        # By content, and a file that differs gets a fresh time: a fault left behind by a run that was
        # stopped is then rebuilt away, which the source's own (older) time would not do.
        subprocess.run(["rsync", "-rlp", "--checksum", "--delete", "--exclude", "build/", "--exclude", ".git/", f"{ROOT}/",
                        f"{self.src}/"], check=True)
        # The sanitizers of scripts/test, without optimising and debug information, linked by lld: a
        # fault costs one file's compile and a link, and the heaviest file (the JSON reader) compiles in
        # half the time.
        subprocess.run(["cmake", "-S", str(self.src), "-B", str(self.build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DCMAKE_C_COMPILER=clang", "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_C_FLAGS_DEBUG=-g0 -O0",
                        "-DCMAKE_CXX_FLAGS_DEBUG=-g0 -O0", "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld",
                        "-DVELTRA_SANITIZE=ON"], check=True, stdout=subprocess.DEVNULL)
        build = self.compile()
        if build.returncode != 0:
            sys.exit("mutate: the unmutated tree does not build:\n" + build.stdout[-3000:])
        started = time.monotonic()
        if not self.tests_pass():
            sys.exit("mutate: the unit tests fail without any fault seeded")
        # A fault that makes the tests run far longer than they do unharmed has made them hang.
        self.test_timeout = max(60.0, 10 * (time.monotonic() - started))

    def compile(self):
        return subprocess.run(["cmake", "--build", str(self.build), "--target", "unit_tests"], capture_output=True,
                              text=True)

    def tests_pass(self, mutant=0):
        env = dict(os.environ, ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=0",
                   UBSAN_OPTIONS="halt_on_error=1", VELTRA_MUTANT=str(mutant))
        try:
            run = subprocess.run([str(self.build / "bin" / "unit_tests"), "--gtest_brief=1", "--gtest_fail_fast"],
                                 capture_output=True, timeout=self.test_timeout, env=env, cwd=self.build)
        except subprocess.TimeoutExpired:
            return False  # a hang is caught too
        return run.returncode == 0

    def verdict(self):
        """What the tests make of the fault now seeded: "caught", "does not compile" or "MISSED"."""
        if self.compile().returncode != 0:
            return "does not compile"
        return "caught" if not self.tests_pass() else "MISSED"


def read_list(path, require_equivalent_reason=False):
    """Entries of a list in the form of tests/mutants.txt."""
    out, current = [], None
    for number, line in enumerate(path.read_text("utf-8").splitlines(), 1):
        if line.startswith("#") or not line.strip():
            continue
        if line.startswith("@ "):
            current = {"file": line[2:].strip(), "at": number, "equivalent": None}
            out.append(current)
        elif current is not None and line.startswith("- "):
            current["line"] = line[2:].strip()
        elif current is not None and line.startswith("+ "):
            current["replacement"] = line[2:].strip()
        elif current is not None and line.startswith("= equivalent:"):
            current["equivalent"] = line[len("= equivalent:"):].strip()
        elif current is not None and require_equivalent_reason and line.startswith("= "):
            current["equivalent"] = line[2:].strip()
        else:
            sys.exit(f"{path.name}:{number}: cannot read {line!r}")
    for entry in out:
        if "line" not in entry or "replacement" not in entry or require_equivalent_reason and not entry["equivalent"]:
            sys.exit(f"{path.name}:{entry['at']}: an entry needs its line, its replacement"
                     + (" and the reason it changes nothing" if require_equivalent_reason else ""))
    return out


def split_occurrence(wanted):
    if wanted.startswith("[") and "] " in wanted:
        return int(wanted[1:wanted.index("]")]), wanted[wanted.index("] ") + 2:]
    return None, wanted


def squeeze(text):
    """A line's text without its blanks: the formatter may space it otherwise without changing it."""
    return re.sub(r"\s+", "", text)


def find_statement(lines, wanted):
    """Where the text `wanted` stands as whole lines of the file, blanks aside: (first, last) line
    indices of each place. A statement the formatter wraps over several lines, or spaces differently,
    is still found, so that formatting the tree never unsettles the list."""
    key = squeeze(wanted)
    squeezed = [squeeze(line) for line in lines]
    hits = []
    for i, first in enumerate(squeezed):
        if not first or not key.startswith(first):
            continue
        text, j = first, i
        while len(text) < len(key) and j + 1 < len(lines):
            j += 1
            text += squeezed[j]
        if text == key:
            hits.append((i, j))
    return hits


def run_hand_list(selected, workers, check_only=False):
    entries = [e for e in read_list(HAND_LIST) if not selected or any(s in f"{e['file']}: {e['line']}" for s in selected)]
    faults, broken = [], 0
    for entry in entries:
        name = f"{entry['file']}: {entry['line']}"
        if entry["equivalent"]:
            print(f"equivalent  {name}\n            -> {entry['replacement']}  ({entry['equivalent']})", flush=True)
            continue
        lines = (ROOT / entry["file"]).read_text("utf-8").split("\n")
        occurrence, wanted = split_occurrence(entry["line"])
        hits = find_statement(lines, wanted)
        if occurrence is None and len(hits) != 1 or occurrence is not None and len(hits) < occurrence:
            broken += 1
            print(f"NOT FOUND   {name} (mutants.txt line {entry['at']}): the line must occur once", flush=True)
            continue
        i, last = hits[(occurrence or 1) - 1]
        indent = lines[i][:len(lines[i]) - len(lines[i].lstrip())]
        faults.append(mutate_rules.Fault(entry["file"], i + 1, lines[i], indent + entry["replacement"], name,
                                         joined=last - i))
    if check_only:
        print(f"{len(faults)} faults found, {broken} not found")
        return 0 if broken == 0 else 1
    scratches = [Scratch(i) for i in range(max(1, workers))]
    for s in scratches:
        s.prepare()

    def report(fault, verdict, done):
        if verdict == "does not compile":
            verdict = "caught (does not compile)"
        print(f"{verdict:<11} {fault.what}\n            -> {fault.mutated.strip()}", flush=True)

    counts = run_faults(scratches, faults, None, report)
    equivalent = sum(1 for e in entries if e["equivalent"])
    print(f"{equivalent} marked equivalent" + (f", {broken} not found" if broken else ""))
    print(f"{counts['caught'] + counts['does not compile']} caught, {counts['MISSED']} missed")
    return 0 if counts["MISSED"] == 0 and broken == 0 else 1


def rule_files(named):
    """The files to make faults in, each with the functions it is limited to (none: the whole file)."""
    def parse(lines):
        files = {}
        for line in lines:
            words = line.split("#", 1)[0].split()
            if words:
                files[words[0]] = set(words[1:])
        return files

    listed = parse(RULE_FILES.read_text("utf-8").splitlines())
    if not named:
        return listed
    # A file named alone keeps the functions the list limits it to: its faults are the same ones then.
    files = parse(named)
    return {name: functions or listed.get(name, set()) for name, functions in files.items()}


def rule_faults(files):
    faults = []
    for name, functions in files.items():
        path = ROOT / name
        if not path.is_file():
            sys.exit(f"mutate: no file {name}")
        text = path.read_text("utf-8")
        found = mutate_rules.faults(name, text)
        if functions:
            spans = mutate_rules.function_lines(text, functions)
            found = [f for f in found if any(first <= f.line <= last for first, last in spans)]
        faults += found
    return faults


def equivalent_reasons(faults, files):
    """The reason of every fault listed as equivalent, and the entries of the named files that match no
    fault any more."""
    entries = read_list(EQUIVALENT, require_equivalent_reason=True) if EQUIVALENT.exists() else []
    by_key = {}
    for entry in entries:
        occurrence, line = split_occurrence(entry["line"])
        by_key[(entry["file"], squeeze(line), occurrence, squeeze(entry["replacement"]))] = entry
    reasons, used = {}, set()
    seen = collections.Counter()
    for fault in faults:
        line = squeeze(fault.original)
        seen[(fault.file, line, fault.what)] += 1
        for occurrence in (None, seen[(fault.file, line, fault.what)]):
            entry = by_key.get((fault.file, line, occurrence, squeeze(fault.mutated)))
            if entry is not None:
                reasons[id(fault)] = entry["equivalent"]
                used.add(id(entry))
                break
    stale = [e for e in entries if e["file"] in files and id(e) not in used]
    return reasons, stale


def run_faults(scratches, to_run, every, report):
    """Runs the faults to_run, one scratch tree a worker, and counts the verdicts. A worker keeps to one
    file while it has faults left; every is the full list of the rule-made faults (their numbers in
    the switched form of a file), or None for faults that can only be seeded one at a time."""
    by_file = collections.defaultdict(list)
    for f in every or []:
        by_file[f.file].append(f)
    queue = collections.OrderedDict()  # file -> faults still to run
    for f in to_run:
        queue.setdefault(f.file, collections.deque()).append(f)
    lock = threading.Lock()
    counts = collections.Counter()

    def take(current):
        with lock:
            for name in [name for name, left in queue.items() if not left]:
                del queue[name]  # emptied, perhaps by the other worker
            if not queue:
                return None
            if current not in queue:
                # Start on the file with most left: the workers seldom meet in one file and end together.
                current = max(queue, key=lambda k: len(queue[k]))
            return queue[current].popleft()

    def work(scratch):
        current, pristine, switched = None, None, False
        while True:
            fault = take(current)
            if fault is None:
                break
            path = scratch.src / fault.file
            if fault.file != current:
                if current is not None:
                    (scratch.src / current).write_text(pristine, "utf-8")
                current, pristine = fault.file, path.read_text("utf-8")
                # All faults of the file in one build, each switched on by its number; a file whose
                # switched form does not build or fails a test unswitched gets one build a fault.
                switched_text = mutate_rules.schemata(pristine, by_file[current]) if every else None
                switched = False
                if switched_text is not None:
                    path.write_text(switched_text, "utf-8")
                    switched = scratch.compile().returncode == 0 and scratch.tests_pass()
                    if not switched:
                        with lock:
                            print(f"mutate: {current}: one build a fault", flush=True)
            if switched:
                verdict = "caught" if not scratch.tests_pass(by_file[current].index(fault) + 1) else "MISSED"
            else:
                lines = pristine.split("\n")
                lines[fault.line - 1] = fault.mutated
                for k in range(fault.joined):
                    lines[fault.line + k] = ""  # the rest of a wrapped statement; line numbers stay
                path.write_text("\n".join(lines), "utf-8")
                verdict = scratch.verdict()
            with lock:
                counts[verdict] += 1
                report(fault, verdict, sum(counts.values()))
        if current is not None:
            (scratch.src / current).write_text(pristine, "utf-8")
        scratch.compile()

    threads = [threading.Thread(target=work, args=(s,)) for s in scratches]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return counts


def run_rules(named, workers, verbose, list_only):
    files = rule_files(named)
    faults = rule_faults(files)
    reasons, stale = equivalent_reasons(faults, files)
    if list_only:
        for f in faults:
            mark = "  (equivalent)" if id(f) in reasons else ""
            print(f"{f.file}:{f.line}: {f.what}: {f.mutated.strip()}{mark}")
        print(f"{len(faults)} faults, {len(reasons)} of them listed as equivalent")
        return 0
    started = time.monotonic()
    scratches = [Scratch(i) for i in range(max(1, workers))]
    for s in scratches:
        s.prepare()

    total = len(faults) - len(reasons)

    def report(fault, verdict, done):
        if verdict == "MISSED":
            print(f"{fault.file}:{fault.line}: {fault.what}: {fault.mutated.strip()}", flush=True)
        elif verbose:
            print(f"[{done}/{total}] {verdict:<16} {fault.file}:{fault.line}: {fault.what}", flush=True)

    counts = run_faults(scratches, [f for f in faults if id(f) not in reasons], faults, report)

    for entry in stale:
        print(f"mutants-equivalent.txt:{entry['at']}: matches no fault of {entry['file']} any more: "
              f"{entry['line']}", flush=True)
    caught = counts["caught"] + counts["does not compile"]
    minutes, seconds = divmod(int(time.monotonic() - started), 60)
    print(f"{len(files)} files, {len(faults)} faults, {minutes} min {seconds} s with {len(scratches)} workers"
          + (f"; {counts['does not compile']} of the caught do not compile" if counts["does not compile"] else ""))
    print(f"{caught} caught, {counts['MISSED']} missed, {len(reasons)} equivalent")
    return 0 if counts["MISSED"] == 0 and not stale else 1


def main(argv):
    parser = argparse.ArgumentParser(prog="scripts/mutate", description=__doc__.split("\n\n")[0])
    parser.add_argument("--rules", action="store_true",
                        help="faults made by rule in the files named (default: those of tests/mutants-files.txt)")
    parser.add_argument("-j", "--jobs", type=int, default=2, help="workers, each with a scratch tree of its own")
    parser.add_argument("-v", "--verbose", action="store_true", help="--rules: print every fault's verdict")
    parser.add_argument("--list", action="store_true", help="--rules: print the faults and run none")
    parser.add_argument("--check", action="store_true", help="hand list: find every fault's line, run none")
    parser.add_argument("names", nargs="*", help="files (--rules), or parts of a file name or line (hand list)")
    args = parser.parse_args(argv)
    # The machine is shared: the many rebuilds give way to everything else.
    os.nice(max(0, 19 - os.nice(0)))
    if args.rules:
        return run_rules(args.names, args.jobs, args.verbose, args.list)
    return run_hand_list(args.names, args.jobs, args.check)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
