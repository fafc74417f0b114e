#!/usr/bin/env python3
"""Same mutants and verdicts as ../shared/tools/mutants.py (same sampling, same mutations), faster:
each mutant first runs the test executable of the mutated folder in one process; a failure there is
confirmed by running the failing tests in isolation through ctest (so cross-test interference never
counts as a kill). Only when that finds nothing does the whole suite run, as mutants.py runs it.
Results are appended to the report as they come, and a restart skips mutants already in it.

usage: scripts/mutants-fast.py --sample 60 --seed 11 --report R.tsv host scanning browser editor app
"""
import argparse
import importlib.util
import os
import random
import re
import shutil
import sys
import time

# ../shared/tools/mutants.py beside the repository; MUTANTS_PY names it from a worktree elsewhere.
spec = importlib.util.spec_from_file_location("mutants", os.environ.get("MUTANTS_PY") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "tools", "mutants.py"))
M = importlib.util.module_from_spec(spec)
spec.loader.exec_module(M)

FOCUS = [("host/dicom/io/", ["test_host_dicom_io"]), ("host/dicom/", ["test_host_dicom", "test_host_dicom_io"]),
         ("host/core/", ["test_host_core"]), ("host/network/", ["test_host_network"]),
         ("host/properties/", ["test_host_properties", "test_host_app"]), ("host/app/", ["test_host_app"]), ("host/ui/", ["test_host_ui"]), ("host/data/", ["test_host_data"]),
         ("host/plugin/", ["test_host_plugin"]), ("host/algorithms/", ["test_host_algorithms"]),
         ("host/", ["test_host_data"]), ("scanning/", ["test_scanning"]), ("browser/", ["test_browser"]),
         ("editor/", ["test_editor"]), ("app/cli/", ["test_cli"]), ("app/", ["test_app", "test_plugin"])]


def focus(path):
    for prefix, exes in FOCUS:
        if path.startswith(prefix):
            return exes
    return []


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folders", nargs="+")
    ap.add_argument("--sample", type=int, default=30)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--build-dir", default="build")
    ap.add_argument("--report", required=True)
    ap.add_argument("--test-timeout", type=int, default=900)
    ap.add_argument("--only", default="", help="comma-separated mutant numbers")
    ap.add_argument("--range", default="", help="A-B: only mutants A..B (1-based, inclusive)")
    args = ap.parse_args()
    b = args.build_dir
    backup_dir = os.path.join(b, ".mutants")
    if os.path.isdir(backup_dir):
        for name in os.listdir(backup_dir):
            shutil.copyfile(os.path.join(backup_dir, name), name.replace("%", "/"))
            print("restored", name.replace("%", "/"))
        shutil.rmtree(backup_dir)

    files = []
    for folder in args.folders:
        for root, dirs, names in os.walk(folder):
            dirs.sort()
            files += [os.path.join(root, n) for n in sorted(names) if n.endswith(".cpp")]
    all_sites = []
    for path in files:
        _, s = M.sites(path)
        all_sites += [(path, x) for x in s]
    rng = random.Random(args.seed)
    picked = rng.sample(all_sites, min(args.sample, len(all_sites)))
    print("%d sites in %d files; sampling %d (seed %d)" % (len(all_sites), len(files), len(picked), args.seed),
          flush=True)

    done = {}
    if os.path.exists(args.report):
        for line in open(args.report).read().splitlines()[1:]:
            parts = line.split("\t")
            done[int(parts[0])] = parts
    else:
        with open(args.report, "w") as f:
            f.write("n\tverdict\tfile\tline\tmutation\thow\n")

    build = "cmake --build %s" % b
    full = "ctest --test-dir %s -j%d --timeout 300" % (b, os.cpu_count() or 2)
    env = "QT_QPA_PLATFORM=offscreen "
    rc, out = M.run(build, 3600)
    if rc != 0:
        sys.exit("unmutated build fails:\n" + out[-2000:])
    if not done:
        rc, out = M.run(full, args.test_timeout)
        if rc != 0:
            sys.exit("tests fail without any mutant:\n" + out[-3000:])

    os.makedirs(backup_dir, exist_ok=True)
    lo, hi = (int(x) for x in args.range.split("-")) if args.range else (1, len(picked))
    for n, (path, site) in enumerate(picked, 1):
        if n in done or n < lo or n > hi:
            continue
        if args.only and str(n) not in args.only.split(","):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            original = f.read()
        backup = os.path.join(backup_dir, path.replace("/", "%"))
        shutil.copyfile(path, backup)
        text, desc = M.mutate(original.split("\n"), site)
        started = time.time()
        how = ""
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            rc, out = M.run(build, 1800)
            if rc != 0:
                verdict = "stillborn"
            else:
                verdict = None
                for exe in focus(path):
                    rc, out = M.run(env + "%s/tests/%s" % (b, exe), 600)
                    if rc == 0:
                        continue
                    failed = sorted(set(re.findall(r"^\[  FAILED  \] ([^\s,]+)(?:, where| \(|$)", out, re.M)))
                    if not failed:  # crash or hang: run the executable's tests in isolation
                        rc2, _ = M.run(full + " -R '^(%s)\\.'" % "|".join(
                            sorted(set(re.findall(r"^\[ RUN      \] (\w+)\.", out, re.M))) or ["."]),
                            args.test_timeout)
                    else:
                        rc2, _ = M.run(full + " -R '^(%s)$'" % "|".join(re.escape(t) for t in failed),
                                       args.test_timeout)
                    if rc2 != 0:
                        verdict, how = "killed", exe
                        break
                if verdict is None:
                    rc, out = M.run(full, args.test_timeout)
                    verdict, how = ("killed" if rc != 0 else "survived"), "full"
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
            os.remove(backup)
        with open(args.report, "a") as f:
            f.write("%d\t%s\t%s\t%d\t%s\t%s\n" % (n, verdict, path, site[0] + 1, desc.replace("\t", " "), how))
        print("[%d/%d] %-9s %s:%d  %s  (%.0f s, %s)" % (n, len(picked), verdict, path, site[0] + 1, desc,
                                                      time.time() - started, how), flush=True)
    shutil.rmtree(backup_dir, ignore_errors=True)
    M.run(build, 3600)
    rows = [l.split("\t") for l in open(args.report).read().splitlines()[1:]]
    killed = sum(1 for r in rows if r[1] == "killed")
    survived = [r for r in rows if r[1] == "survived"]
    counted = killed + len(survived)
    print("\n%d killed, %d survived, %d stillborn: kill rate %s" % (
        killed, len(survived), len(rows) - counted, "%.0f%%" % (100.0 * killed / counted) if counted else "n/a"))
    for r in survived:
        print("survived  %s:%s  %s" % (r[2], r[3], r[4]))


if __name__ == "__main__":
    main()
