#!/usr/bin/env python3
"""How many small faults planted in the product the tests catch (a mutation sample).

Lists every place in the product's sources (Common/, Platform/, Sources/, main.cpp, tools/zvtool;
.cpp files, comments and string literals left alone) where one small fault can be planted:

  cmp    a comparison turned round (== and !=, < and >=, > and <=)
  logic  && and || exchanged
  bool   true and false exchanged
  const  an integer constant changed (N becomes N + 1, 0 becomes 1)
  call   a statement that only calls something removed
  negate an if's condition turned into its opposite

picks COUNT of them with SEED, and for each one, in a copy of the working tree (so the tree
itself is never changed): plants the fault, rebuilds, runs the tests and records whether a test
failed (killed), all passed (survived), or the copy did not build (stillborn: not counted).
The score is killed / (killed + survived). Each mutant runs the tests of the folders that cover
its source file (MAP below), or every test but the end-to-end ones with --all; --e2e adds the
end-to-end tests. Results go to bench/mutants/<SEED>-<COUNT>.tsv (one line a mutant, with the
planted change, so a survivor can be read and planted again) and the score is printed.

    bench/mutation.py [--seed N] [--count K] [--all] [--e2e] [--jobs J] [--list]
                      [--replay FILE] [--resume]
    bench/mutation.py --compare BEFORE.tsv AFTER.tsv

--list only prints the sample. --replay FILE plants exactly the mutants of an earlier results
file instead of a sample (each found again by its line's text, nearest to its old line number,
so the same faults can be planted after the code around them has moved); its results go to
FILE's name with "-replay" added. --resume keeps the mutants already in the results file and
runs the rest. --compare prints the scores of two results files over the mutants both hold and
the mutants whose outcome differs. Not a test.

The copy is built for quick rebuilds: unoptimised, without debug information, with ZVCommonPrivate
as a shared library that the programs are not relinked against (ZV_PRIVATE_SHARED), so a mutant
costs one source compiled, one library linked and its tests run; ccache (keyed on the work
folder) serves a mutant compiled before, e.g. by the same sample run on other tests.
"""
import argparse
import collections
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE_DIRS = ["Common", "Platform", "Sources", "tools/zvtool"]
SKIPPED = re.compile(r"/(SystemEventsAgent|AuthorizationAgent)/|UninstallerDriver")

# Which tests cover a source file: the first prefix that matches wins.
MAP = [
    ("Common/Sources/Utilities/ZVUtilitySizeTexts", "Utility|Wizard"),
    ("Common/Sources/Utilities/ZVUtilityServerListings", "UtilityListing|UtilityZvtool"),
    ("Common/Sources/Utilities/ZVServerListing", "UtilityListing|UtilityZvtool"),
    ("Common/Sources/Utilities/ZVUtilityLocalSizes", "Sizes|UtilityZvtool"),
    ("Common/Sources/Utilities/ZVUtilityVolumes", "Sizes|Schedules|UtilityZvtool"),
    ("Common/Sources/Utilities/ZVUtilityPredicates", "Utility"),
    ("Common/Sources/Utilities/ZVUtilityConsole", "Processes|Utility"),
    ("Common/Sources/Utilities/ZVProcessListing", "Processes|UninstallPlan"),
    ("Common/Sources/Utilities/ZVLocalizedString", "Wizard|CheckDeployment|Foundation"),
    ("Common/Sources/Model", "Schedules|LoginItems|Processes|Foundation"),
    ("Common/Sources/Uninstall", "Wizard(Pages|Procedure)|UninstallPlan|CheckDeployment"),
    ("Sources/ZVAuthentication", "Authorization|Processes|Wizard(Pages|Procedure)"),
    ("Sources/ZVScheduleItem", "Schedules"),
    ("Sources/", "Wizard"),
    ("main.cpp", "Wizard|Deployments"),
    ("Platform/AppleEvents", "LoginItems"),
    ("Platform/ProcessManager", "LoginItems"),
    ("Platform/LaunchServices", "LoginItems"),
    ("Platform/AppleScript", "LoginItems"),
    ("Platform/Authorization", "Authorization|WizardPages"),
    ("Platform/FileManager", "Sizes|Utility"),
    ("Platform/KeyedArchive", "Schedules"),
    ("Platform/Foundation", "Foundation|Wizard|Schedules|CheckDeployment"),
    ("Platform/", "Foundation|Processes|Sizes|Utility|Wizard"),
    ("tools/zvtool/Check", "CheckDeployment"),
    ("tools/zvtool/Listings", "Utility"),
    ("tools/zvtool/SizeTexts", "Utility"),
    ("tools/zvtool/LoginItems", "LoginItems"),
    ("tools/zvtool/Schedules", "Schedules"),
    ("tools/zvtool/Sizes", "Sizes|Utility"),
    ("tools/zvtool/Uninstall", "Uninstall|Wizard|CheckDeployment"),
    ("tools/zvtool", "CheckDeployment|LoginItems|Schedules|Sizes|Utility|Uninstall"),
]

OPERATORS = [
    ("cmp", re.compile(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)"),
     {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}),
    ("logic", re.compile(r"(?<=\s)(&&|\|\|)(?=\s)"), {"&&": "||", "||": "&&"}),
    ("bool", re.compile(r"\b(true|false)\b"), {"true": "false", "false": "true"}),
    ("const", re.compile(r"(?<![\w.])(\d+)(?![\w.'])"), None),
]
CALL_LINE = re.compile(r"^\s*[A-Za-z_][\w:.>\-]*\(.*\);\s*$")
IF_LINE = re.compile(r"^(\s*(?:\} )?(?:else )?if )\((.*)\)( \{)?\s*$")


def blank_literals(line):
    """LINE with the inside of string and character literals and any // comment blanked."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(c if c == quote else " ")
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))


def product_files():
    files = []
    for d in SOURCE_DIRS:
        for folder, _, names in os.walk(os.path.join(ROOT, d)):
            for name in names:
                path = os.path.relpath(os.path.join(folder, name), ROOT)
                if name.endswith(".cpp") and not SKIPPED.search("/" + path):
                    files.append(path)
    files.append("main.cpp")
    return sorted(files)


def sites():
    """Every (file, line number, kind, column, old text, new text) where a fault can go."""
    found = []
    for path in product_files():
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            lines = f.read().split("\n")
        in_block_comment = False
        for number, line in enumerate(lines, 1):
            stripped = line.strip()
            if in_block_comment:
                in_block_comment = "*/" not in stripped
                continue
            if stripped.startswith("/*"):
                in_block_comment = "*/" not in stripped
                continue
            if not stripped or stripped.startswith(("#", "//", "static_assert", "Q_ASSERT", "template")):
                continue
            code = blank_literals(line)
            for kind, pattern, swap in OPERATORS:
                for m in pattern.finditer(code):
                    old = m.group(1)
                    if kind == "const":
                        new = str(int(old) + 1)
                    else:
                        new = swap[old]
                    found.append((path, number, kind, m.start(1), old, new))
            if CALL_LINE.match(line) and not re.search(r"\b(return|delete|new|co_return)\b", code) \
                    and "=" not in code.replace("==", "").replace("!=", "").replace("<=", "").replace(">=", ""):
                found.append((path, number, "call", 0, stripped, ";"))
            m = IF_LINE.match(code.rstrip())
            if m and code.count("(") == code.count(")"):
                found.append((path, number, "negate", 0, stripped, ""))
    return found


def plant(tree, site):
    path, number, kind, column, old, new = site
    full = os.path.join(tree, path)
    with open(full, encoding="utf-8") as f:
        text = f.read()
    lines = text.split("\n")
    line = lines[number - 1]
    if kind == "call":
        lines[number - 1] = re.match(r"\s*", line).group(0) + ";"
    elif kind == "negate":
        m = IF_LINE.match(line.rstrip())
        lines[number - 1] = f"{m.group(1)}(!({m.group(2)})){m.group(3) or ''}"
    else:
        assert line[column:column + len(old)] == old, (site, line)
        lines[number - 1] = line[:column] + new + line[column + len(old):]
    with open(full, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return full, text


def key(site):
    return (site[0], site[1], site[2], site[3], site[4])


def recorded(results):
    """The outcomes already in RESULTS, by mutant."""
    done = {}
    if os.path.exists(results):
        for line in open(results, encoding="utf-8"):
            if line.startswith("#") or not line.strip():
                continue
            f = line.rstrip("\n").split("\t")
            done[(f[0], int(f[1]), f[2], int(f[3]), f[4])] = f[6]
    return done


def replayed(results):
    """The mutants of RESULTS, each at the line of the same text nearest its recorded line."""
    sample = []
    for line in open(results, encoding="utf-8"):
        if line.startswith("#") or not line.strip():
            continue
        f = line.rstrip("\n").split("\t")
        path, number, kind, column, before, after, text = f[0], int(f[1]), f[2], int(f[3]), f[4], f[5], f[9]
        try:
            lines = open(os.path.join(ROOT, path), encoding="utf-8").read().split("\n")
        except OSError:
            print(f"gone: {path}:{number} {text}")
            continue
        matches = [i + 1 for i, l in enumerate(lines) if l.strip() == text]
        if not matches:
            print(f"gone: {path}:{number} {text}")
            continue
        found = min(matches, key=lambda n: abs(n - number))
        sample.append((path, found, kind, column, before, after))
    return sample


def tests_for(path, everything):
    if everything:
        return None
    for prefix, regex in MAP:
        if path.startswith(prefix):
            return regex
    return None


def listed_tests(build, regex, exclude):
    cmd = ["ctest", "-N"] + exclude + (["-R", regex] if regex else [])
    out = subprocess.run(cmd, cwd=build, capture_output=True, text=True).stdout
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def run(cmd, cwd, timeout):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def compare(before_file, after_file):
    """The scores of two results files over the mutants both hold, and the mutants they differ on."""
    def outcomes(results):
        """By file, kind, column, planted text and line text (line numbers may move), and the
        order among alike lines."""
        found, seen = {}, collections.Counter()
        for line in open(results, encoding="utf-8"):
            if line.strip() and not line.startswith("#"):
                f = line.rstrip("\n").split("\t")
                k = (f[0], f[2], int(f[3]), f[4], f[9])
                found[k + (seen[k],)] = f[6]
                seen[k] += 1
        return found

    before, after = outcomes(before_file), outcomes(after_file)
    common = [k for k in before if k in after]
    for name, result in (("before", before), ("after", after)):
        counted = [result[k] for k in common if result[k] != "stillborn"]
        killed = counted.count("killed")
        print(f"{name}: {len(common)} mutants, killed {killed}, survived {len(counted) - killed}, "
              f"stillborn {len(common) - len(counted)}; score {100.0 * killed / max(1, len(counted)):.1f}%")
    for k in common:
        if before[k] != after[k]:
            where = "" if k[3] == k[4] else f" in {k[4]!r}"
            print(f"  {before[k]} -> {after[k]}: {k[0]} {k[1]} {k[3]!r}{where}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--all", action="store_true", help="every test but the end-to-end ones, for every mutant")
    parser.add_argument("--e2e", action="store_true", help="the end-to-end tests as well")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--replay")
    parser.add_argument("--resume", action="store_true")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    args = parser.parse_args()

    if args.compare:
        return compare(*args.compare)
    out_dir = os.path.join(ROOT, "bench", "mutants")
    if args.replay:
        sample = replayed(args.replay)
        results = os.path.join(out_dir, os.path.basename(args.replay).replace(".tsv", "-replay.tsv"))
        print(f"replaying {len(sample)} mutants of {args.replay}")
    else:
        candidates = sites()
        sample = random.Random(args.seed).sample(candidates, min(args.count, len(candidates)))
        results = os.path.join(out_dir, f"{args.seed}-{args.count}.tsv")
        print(f"{len(candidates)} places for a fault; sample of {len(sample)} with seed {args.seed}")
    done = recorded(results) if args.resume else {}
    if args.list:
        for s in sample:
            print(f"{s[0]}:{s[1]} {s[2]} {s[4]!r} -> {s[5]!r}")
        return 0

    work = tempfile.mkdtemp(prefix="zv-mutation.")
    os.chmod(work, 0o755)  # tests run programs of the build as other users
    tree = os.path.join(work, "tree")
    build = os.path.join(work, "build")
    os.makedirs(out_dir, exist_ok=True)
    os.environ["CCACHE_BASEDIR"] = work
    try:
        shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns("build", "build-*", ".git", "mutants"), symlinks=True)
        configure = ["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0",
                     "-DZV_PRIVATE_SHARED=ON", "-DCMAKE_LINK_DEPENDS_NO_SHARED=ON"]
        if shutil.which("ninja"):
            configure.append("-GNinja")
        if subprocess.run(configure, stdout=subprocess.DEVNULL).returncode != 0 \
                or run(["cmake", "--build", build, f"-j{args.jobs}"], tree, 3600) != 0:
            sys.exit("mutation.py: the unchanged tree does not build")
        exclude = [] if args.e2e else ["-LE", "e2e", "-E", "EndToEnd|Deployments"]
        # A test that fails without any fault would count every mutant as killed.
        if not done:
            baseline = subprocess.run(["ctest", f"-j{args.jobs}", "--timeout", "300", "--output-on-failure"] + exclude,
                                      cwd=build, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if baseline.returncode != 0:
                print(baseline.stdout[-8000:])
                sys.exit("mutation.py: a test fails on the unchanged tree")
        outcomes = list(done.values())
        killed, survived, stillborn = (outcomes.count(o) for o in ("killed", "survived", "stillborn"))
        with open(results, "a" if done else "w") as log:
            if not done:
                log.write("# file\tline\tkind\tcolumn\tbefore\tafter\toutcome\ttests\tseconds\tline text\n")
            for index, site in enumerate(sample, 1):
                if key(site) in done:
                    continue
                start = time.monotonic()
                full, original = plant(tree, site)
                line_text = original.split("\n")[site[1] - 1].strip()
                regex = tests_for(site[0], args.all)
                chosen = listed_tests(build, regex, exclude)
                # Everything is rebuilt, but only the mutated source is compiled and only what
                # holds it statically (the wizard's library and its programs) is linked again.
                if run(["cmake", "--build", build, f"-j{args.jobs}"], tree, 1800) != 0:
                    outcome = "stillborn"
                    stillborn += 1
                else:
                    cmd = ["ctest", f"-j{args.jobs}", "--stop-on-failure", "--timeout", "300", "-R",
                           "^(" + "|".join(chosen) + ")$"]
                    if run(cmd, build, 3600) != 0:
                        outcome = "killed"
                        killed += 1
                    else:
                        outcome = "survived"
                        survived += 1
                with open(full, "w", encoding="utf-8") as f:
                    f.write(original)
                seconds = time.monotonic() - start
                log.write("\t".join([site[0], str(site[1]), site[2], str(site[3]), site[4], site[5], outcome,
                                     regex or "all", f"{seconds:.0f}", line_text]) + "\n")
                log.flush()
                print(f"[{index}/{len(sample)}] {outcome:<9} {site[0]}:{site[1]} {site[2]} "
                      f"{site[4]!r} -> {site[5]!r} ({seconds:.0f} s)", flush=True)
        counted = killed + survived
        score = 100.0 * killed / counted if counted else 0.0
        summary = (f"seed {args.seed}, {len(sample)} mutants: killed {killed}, survived {survived}, "
                   f"stillborn {stillborn}; score {score:.1f}%")
        with open(results, "a") as log:
            log.write("# " + summary + "\n")
        print(summary)
        print(f"results: {os.path.relpath(results, ROOT)}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
