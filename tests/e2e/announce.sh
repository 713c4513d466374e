#!/bin/sh
# ctest runs this before the tests of the native build tree
# (CTestCustom.cmake). In an end-to-end run (the e2e preset sets
# BVX_E2E_ANNOUNCE=1) it names the BVX.exe that the tests drive.
[ -n "${BVX_E2E_ANNOUNCE:-}" ] || exit 0
python3 "$(dirname "$0")/harness.py" exe || echo "(could not tell which BVX.exe the tests drive)"
exit 0
