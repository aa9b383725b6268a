"""Runs the end-to-end tests: every test_* function of the test_*.py modules here, each on its own,
with whatever it started stopped afterwards. Ends with "N passed, N failed"."""

import importlib
import sys
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tools" / "automation"))

import harness  # noqa: E402


def main(selected):
    sys.path.insert(0, str(HERE))
    passed = failed = 0
    for module_path in sorted(HERE.glob("test_*.py")):
        module = importlib.import_module(module_path.stem)
        for name in [n for n in vars(module) if n.startswith("test_")]:
            if selected and not any(s in name for s in selected):
                continue
            start = time.monotonic()
            try:
                getattr(module, name)()
                passed += 1
                print(f"ok - {module_path.stem}.{name} ({time.monotonic() - start:.1f} s)", flush=True)
            except Exception as e:  # a failing test must not stop the others
                failed += 1
                print(f"FAIL - {module_path.stem}.{name}: {e}", flush=True)
                traceback.print_exc(limit=4)
            finally:
                harness.cleanup()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
