#!/usr/bin/env python3
"""Fails when a test of the build would run outside the tests' environment.

Every test but the setups that empty a home must have the environment of
tests/support/test_environment.cmake (a home inside the build folder, the
XDG folders unset, llvmpipe without its disk shader cache or worker threads)
and require a fixture that empties its home. In a sanitised build the run
itself must keep the leak check away from the GL driver's dynamic TLS, as
the test preset does for every process it starts.

usage: check_hermetic.py <ctest> <build folder> <expected environment, comma-separated> [--sanitized]
"""
import json
import os
import subprocess
import sys


# What the environment must hold whatever else it gains: runs that differ by
# machine or by what an earlier run left on disk are not the same test.
REQUIRED = [
    "XDG_CONFIG_HOME=unset:", "XDG_CACHE_HOME=unset:", "XDG_DATA_HOME=unset:", "XDG_STATE_HOME=unset:",
    "XDG_DOCUMENTS_DIR=unset:", "LIBGL_ALWAYS_SOFTWARE=set:true", "MESA_SHADER_CACHE_DISABLE=set:true",
    "LP_NUM_THREADS=set:0",
]


def main(argv):
    ctest, build, expected = argv[1], os.path.realpath(argv[2]), argv[3].split(",")
    sanitized = "--sanitized" in argv[4:]
    listing = subprocess.run([ctest, "--show-only=json-v1"], cwd=build, capture_output=True, text=True)
    if listing.returncode != 0:
        print(listing.stderr)
        return 1
    tests = json.loads(listing.stdout)["tests"]
    setups = set()
    for t in tests:
        for p in t.get("properties", []):
            if p["name"] == "FIXTURES_SETUP":
                setups.update(p["value"])
    faults = [f"the tests' environment lacks {e}" for e in REQUIRED if e not in expected]
    for t in tests:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        if "FIXTURES_SETUP" in props:
            continue
        env = props.get("ENVIRONMENT_MODIFICATION", [])
        homes = [e[len("HOME=set:"):] for e in env if e.startswith("HOME=set:")]
        rest = [e for e in env if not e.startswith("HOME=")]
        home_ok = len(homes) == 1 and os.path.realpath(homes[0]).startswith(build + os.sep)
        fixtures = props.get("FIXTURES_REQUIRED", [])
        if not home_ok or rest != [e for e in expected if not e.startswith("HOME=")]:
            faults.append(f"{t['name']}: environment {env}")
        elif not fixtures or any(f not in setups for f in fixtures):
            faults.append(f"{t['name']}: no fixture empties its home ({fixtures})")
    if sanitized and "intercept_tls_get_addr=0" not in os.environ.get("LSAN_OPTIONS", ""):
        faults.append("LSAN_OPTIONS lacks intercept_tls_get_addr=0: the processes the tests start (the engine, "
                      "the generators) crash the leak check at exit (run the suite with ctest --preset test)")
    for f in faults[:20]:
        print(f)
    if faults:
        print(f"{len(faults)} faults among {len(tests)} tests")
        return 1
    print(f"{len(tests)} tests in the tests' environment")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
