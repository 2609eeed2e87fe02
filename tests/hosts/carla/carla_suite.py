#!/usr/bin/env python3
"""Carla host suite: Carla 2.5.9 (../shared/tools/carla) discovers the built
modules as its plug-in scan does.

  discovery  carla-discovery-native lists each format as the README says:
             Kestrune by Marlowind, dynamics, 4 audio inputs (main and
             sidechain) and 2 outputs, and a label to list it by.

Nothing is timed: each format's discovery runs to its end."""

import argparse
import os
import subprocess
import sys

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
CARLA = os.environ.get("KESTRUNE_CARLA_DIR", os.path.join(REPOSITORY, "..", "shared", "tools", "carla"))
FORMATS = ("vst3", "vst2", "lv2")
STEP_TIMEOUT = 120  # seconds: only catches a hang


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def discovery(build):
    modules = os.path.join(build, "modules")
    paths = {"vst3": os.path.join(modules, "Kestrune.vst3"), "vst2": os.path.join(modules, "vst2", "Kestrune.so"),
             "lv2": os.path.join(modules, "Kestrune.lv2")}
    for fmt in FORMATS:
        run = subprocess.run([os.path.join(CARLA, "bin", "carla-discovery-native"), fmt, paths[fmt]],
                             capture_output=True, text=True, timeout=STEP_TIMEOUT)
        found = {}
        for line in run.stdout.splitlines():
            parts = line.split("::", 2)
            if len(parts) == 3 and parts[0] == "carla-discovery":
                found.setdefault(parts[1], parts[2])
        check(found, "%s: discovery found nothing (exit %d)\n%s" % (fmt, run.returncode, run.stderr[-2000:]))
        for key, want in (("name", "Kestrune"), ("maker", "Marlowind"), ("category", "dynamics"),
                          ("audio.ins", "4"), ("audio.outs", "2")):
            check(found.get(key) == want, "%s: discovery says %s=%r, not %r" % (fmt, key, found.get(key), want))
        check(found.get("label"), "%s: no label to list the plug-in by" % fmt)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=["discovery"])
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    try:
        discovery(os.path.abspath(args.build_dir))
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
