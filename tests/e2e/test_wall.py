"""No tests: test_photo.py takes the practice wall's render from here (it lives in common.py)."""

from common import render  # noqa: F401
