#!/usr/bin/env python3
"""Runs the benchmark program three times pinned to two cores, each run
with its benchmarks interleaved at random and repeated, and prints, for
every benchmark, the median of the three runs (each run's figure is the
median of its repetitions) and their spread, and for every pair of ours and
its baseline the ratio taken within each run (median and spread). A
benchmark that ended with an error is shown as one, with its message; a
benchmark of the runs that is in no pair is listed as having no partner,
and a pair naming a benchmark the program does not have is listed too.
Usage:

    SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy \
        bench/run_three.py build/bench/bench/quild_bench [--filter REGEX] [--cpus 0,1] \
        [--repetitions 3] [--keep DIR]
    bench/run_three.py [PROGRAM] --json run0.json run1.json ...   # saved runs
    bench/run_three.py PROGRAM --check-pairs   # every pair names benchmarks the program has
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

# (ours, baseline) by the benchmark's function name (its name up to the
# first '/'); "name:counter" compares a counter instead of the real time.
# Each benchmark of the one is paired with the benchmark of the other that
# has the same arguments (/512, /threads:8; iteration counts and time
# settings aside); a name with a single benchmark of no arguments is paired
# with every benchmark of the other.
PAIRS = [
    ("BM_Crc32Engine", "BM_Crc32ZlibBaseline"),
    ("BM_ObjectPool48", "BM_Malloc48Baseline"),
    ("BM_GlobalNew64", "BM_StdNew64Baseline"),
    ("BM_StringPoolInternFind", "BM_UnorderedSetBaseline"),
    ("BM_StartToFirstFrame_EngineVsBare:engine_startup_ms", "BM_StartToFirstFrame_EngineVsBare:bare_startup_ms"),
    ("BM_StartToFirstFrame_EngineVsBare:engine_startup_cpu_ms",
     "BM_StartToFirstFrame_EngineVsBare:bare_startup_cpu_ms"),
    ("BM_WholeProcess_EngineVsBare:engine_ms", "BM_WholeProcess_EngineVsBare:bare_ms"),
    ("BM_WholeProcess_EngineVsBare:engine_cpu_ms", "BM_WholeProcess_EngineVsBare:bare_cpu_ms"),
    ("BM_PngDecodeEngine", "BM_PngDecodeLibpngBaseline"),
    ("BM_JpegDecodeEngine", "BM_JpegDecodeLibjpegBaseline"),
    ("BM_TgaDecodeEngine24", "BM_TgaMemcpyBaseline24"),
    ("BM_TgaDecodeEngine32", "BM_TgaMemcpyBaseline32"),
    ("BM_MatrixMultiply", "BM_MatrixMultiply_Glm"),
    ("BM_MatrixInverse", "BM_MatrixInverse_Glm"),
    ("BM_PackageOpenRead1MiB", "BM_LooseFopenFreadBaseline"),
    ("BM_DrawRect10k", "BM_RawGlQuads10k"),
    ("BM_CreateTexture1024", "BM_RawGlTexImage1024"),
    ("BM_CreateTexture1024:cpu_ms", "BM_RawGlTexImage1024:cpu_ms"),
    ("BM_ResourceFindByName", "BM_ResourceFindHashMapBaseline"),
    ("BM_ScriptCallOnGameUpdate", "BM_BarePcallBaseline"),
    ("BM_RunScriptFromCache", "BM_CompileSourceBaseline"),
    ("BM_LuaLoopEngine", "BM_LuaLoopBareBaseline"),
    ("BM_LuaRecursionEngine", "BM_LuaRecursionBareBaseline"),
    ("BM_LuaResumeEngine", "BM_LuaResumeBareBaseline"),
    ("BM_LuaWrapEngine", "BM_LuaWrapBareBaseline"),
    ("BM_LuaPcallEngine", "BM_LuaPcallBareBaseline"),
    ("BM_LuaStringsEngine", "BM_LuaStringsBareBaseline"),
    ("BM_VideoPlayerDecode", "BM_TheoraDecodeBaseline"),
    ("BM_MixStreamsAndStatics", "BM_OvReadBaseline"),
    ("BM_OpenShortLinks", "BM_OpenShortLinksOvBaseline"),
    ("BM_StartInsideALinkOfLongerBlocks", "BM_StartInsideALinkOfLongerBlocksOvBaseline"),
    ("BM_WindowFrame", "BM_WindowFrame_RawSdl"),
    ("BM_PanoramaFrame", "BM_RawGlPanoramaQuads"),
    ("BM_PickAmong1000Hotspots", "BM_RectLoop1000"),
    ("BM_TextResult", "BM_TextResultUnsafeBaseline"),
    ("BM_SaveScreenshotJpeg", "BM_LibjpegEncode1024x768"),
    ("BM_SaveScreenshotJpeg", "BM_ReadBackAndLibjpegEncode"),
    ("BM_EngineIdleFrame", "BM_WindowFrame"),
    ("BM_ModeAndTextureChanges200", "BM_RawGlModeAndTextureChanges200"),
    ("BM_NodeSwitchToCubeScene", "BM_DecodeUploadSixFaces"),
    ("BM_DissolveFrame", "BM_RawGlTwoTexturedQuads"),
    ("BM_Particles10kStepAndDraw", "BM_RawGlParticleVertices60k"),
    ("BM_SkinnedMesh5kAnimateAndDraw", "BM_RawGlPreSkinned5k"),
    ("BM_EffectsFrame", "BM_RawGlEffectsQuads"),
    ("BM_GetPropertyNumber", "BM_BareTwoArgumentCallBaseline"),
    ("BM_SetPropertyNumber", "BM_BareTwoArgumentCallBaseline"),
    ("BM_HotspotByNameAmong1000", "BM_HotspotByNameBaseline"),
    ("BM_HotspotAtDirection", "BM_HotspotAtDirectionBaseline"),
    ("BM_GetBuildFromLua", "BM_BareFunctionBaseline"),
    ("BM_EditorKeystroke1MB", "BM_EditorDrawOnly1MB"),
    ("BM_EditorOpen1MB", "BM_FreadSplitLines1MB"),
    ("BM_FirstUseOfStateCombination", "BM_WarmStateCombinationBaseline"),
    ("BM_FirstUseOfHlslProgram", "BM_WarmHlslProgramBaseline"),
]

UNITS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
# Parts of a name that set how a benchmark is run, not what it measures.
SETTING = re.compile(r"^(iterations|repeats|min_time|min_warmup_time):|^(real_time|manual_time|process_time)$")


def split_name(name):
    """'BM_X/512/iterations:3/real_time' -> ('BM_X', ('512',))."""
    family, *parts = name.split("/")
    return family, tuple(p for p in parts if not SETTING.match(p))


def run_once(program, cpus, bench_filter, repetitions, keep, index):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(keep or tmp, "run%d.json" % index)
        cmd = ["taskset", "-c", cpus, program, "--benchmark_out=" + out, "--benchmark_out_format=json",
               "--benchmark_enable_random_interleaving=true", "--benchmark_repetitions=%d" % repetitions]
        if bench_filter:
            cmd.append("--benchmark_filter=" + bench_filter)
        done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            sys.exit("run %d: the program exited with %d\n%s" % (index + 1, done.returncode, done.stderr[-2000:]))
        with open(out) as f:
            return json.load(f)


def values(run):
    """name -> {"time_ms": real time in ms, counters...}, each the median of
    the run's repetitions of that benchmark; a benchmark any repetition of
    which ended with an error -> {"error": its message}."""
    reps, errors = {}, {}
    for b in run["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            errors.setdefault(name, b.get("error_message", "error"))
            continue
        unit = UNITS[b.get("time_unit", "ns")]
        v = {"time_ms": b["real_time"] * unit, "cpu_ms": b["cpu_time"] * unit}
        for k, x in b.items():
            if k.endswith("_ms") or k in ("gl_state_calls_per_frame", "ratio"):
                v[k] = x
        if b.get("label"):
            v["label"] = b["label"]
        reps.setdefault(name, []).append(v)
    table = {name: {"error": message} for name, message in errors.items()}
    for name, rows in reps.items():
        if name in table:
            continue
        row = {k: statistics.median([r[k] for r in rows if k in r]) for k in rows[0] if k != "label"}
        if "label" in rows[0]:
            row["label"] = rows[0]["label"]
        table[name] = row
    return table


def measure(table, name, counter):
    """A benchmark's figure in one run: a number, "error" or None (absent)."""
    row = table.get(name)
    if row is None:
        return None
    if "error" in row:
        return "error"
    # Threaded runs compare CPU time per operation (eight threads share
    # two cores).
    counter = counter or ("cpu_ms" if any(p.startswith("threads:") for p in split_name(name)[1]) else "time_ms")
    return row.get(counter)


def pairs_of(names, ours_key, base_key):
    """The pairs one PAIRS entry makes among these benchmark names, and
    the names of its sides that found no partner though the other side is
    there (a partner with other arguments)."""
    ours_family, _, ours_counter = ours_key.partition(":")
    base_family, _, base_counter = base_key.partition(":")
    ours = [n for n in names if split_name(n)[0] == ours_family]
    base = [n for n in names if split_name(n)[0] == base_family]
    made = []
    for o in ours:
        for b in base:
            oa, ba = split_name(o)[1], split_name(b)[1]
            if oa == ba or (len(ours) == 1 and not oa) or (len(base) == 1 and not ba):
                made.append((o, ours_counter, b, base_counter))
    mismatched = [n for n in ours + base if not any(n in (m[0], m[2]) for m in made)] if ours and base else []
    return made, mismatched


def pairing(names):
    """Every pair among these names, the names in none, and those of them
    whose partner is there with other arguments."""
    made, mismatched = [], []
    for ours_key, base_key in PAIRS:
        m, x = pairs_of(names, ours_key, base_key)
        made += m
        mismatched += [n for n in x if n not in mismatched]
    paired = {m[0] for m in made} | {m[2] for m in made}
    return made, [n for n in names if n not in paired], [n for n in mismatched if n not in paired]


def fmt(x):
    if x >= 100:
        return "%.0f" % x
    if x >= 10:
        return "%.1f" % x
    if x >= 1:
        return "%.2f" % x
    return "%.3g" % x


def listed(program):
    out = subprocess.run([program, "--benchmark_list_tests=true"], stdout=subprocess.PIPE, text=True, check=True)
    return [n for n in out.stdout.splitlines() if n]


def stale_pairs(known):
    """PAIRS entries a side of which names no benchmark among these."""
    families = {split_name(n)[0] for n in known}
    return [(o, b) for o, b in PAIRS if o.partition(":")[0] not in families or b.partition(":")[0] not in families]


def report(runs, known):
    names = []
    for r in runs:
        names += [n for n in r if n not in names]
    print("| benchmark | median (ms) | spread over %d runs | notes |" % len(runs))
    print("|---|---|---|---|")
    for n in names:
        errors = ["run %d: %s" % (i + 1, r[n]["error"]) for i, r in enumerate(runs) if "error" in r.get(n, {})]
        keys = []
        for r in runs:
            keys += [k for k in r.get(n, {}) if k not in ("label", "error") and k not in keys]
        if not keys:
            print("| %s | error | | %s |" % (n, "; ".join(errors)))
            continue
        label = next((r[n]["label"] for r in runs if "label" in r.get(n, {})), "")
        notes = "; ".join(([label] if label else []) + ["error in " + e for e in errors])
        for k in keys:
            xs = [r[n][k] for r in runs if k in r.get(n, {})]
            print("| %s%s | %s | %s-%s | %s |" % (n, "" if k == "time_ms" else " " + k, fmt(statistics.median(xs)),
                                                 fmt(min(xs)), fmt(max(xs)), notes))
    print()
    print("| ours | baseline | ratio (median) | ratios in the %d runs |" % len(runs))
    print("|---|---|---|---|")
    made, unpaired, mismatched = pairing(names)
    for o, oc, b, bc in made:
        cells, ratios = [], []
        for r in runs:
            x, y = measure(r, o, oc), measure(r, b, bc)
            if "error" in (x, y):
                cells.append("error")
            elif x is None or y is None or not y:
                cells.append("none")
            else:
                ratios.append(x / y)
                cells.append("%.2f" % (x / y))
        median = "%.2f" % statistics.median(ratios) if ratios else ("error" if "error" in cells else "none")
        print("| %s%s | %s%s | %s | %s |" % (o, ":" + oc if oc else "", b, ":" + bc if bc else "", median,
                                             ", ".join(cells)))
    if unpaired:
        print()
        print("| benchmark in no pair | why |")
        print("|---|---|")
        for n in unpaired:
            print("| %s | %s |" % (n, "its partner has other arguments" if n in mismatched else "no partner in these runs"))
    stale = stale_pairs(known) if known else []
    if stale:
        print()
        print("Pairs naming a benchmark the program does not have: " +
              ", ".join("%s / %s" % p for p in stale))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program", nargs="?")
    ap.add_argument("--filter", default="")
    ap.add_argument("--cpus", default="0,1")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--repetitions", type=int, default=3)
    ap.add_argument("--keep", help="keep each run's JSON in this folder")
    ap.add_argument("--json", nargs="*", help="summarise these saved runs (--benchmark_out files) instead")
    ap.add_argument("--check-pairs", action="store_true",
                    help="only list the program's benchmarks in no pair, and fail on a pair naming one it lacks")
    a = ap.parse_args()
    if not a.program and (a.check_pairs or not a.json):
        ap.error("the benchmark program is needed")
    if a.check_pairs:
        known = listed(a.program)
        _, unpaired, mismatched = pairing(known)
        for n in unpaired:
            print("%s: %s" % ("partner with other arguments" if n in mismatched else "no partner", n))
        stale = stale_pairs(known)
        for o, b in stale:
            print("pair naming no benchmark of the program: %s / %s" % (o, b))
        return 1 if stale or mismatched else 0
    if a.json:
        runs = []
        for path in a.json:
            with open(path) as f:
                runs.append(values(json.load(f)))
    else:
        if a.keep:
            os.makedirs(a.keep, exist_ok=True)
        runs = [values(run_once(a.program, a.cpus, a.filter, a.repetitions, a.keep, i)) for i in range(a.runs)]
    # Pairs the program lacks, when it is at hand (saved runs may have been
    # filtered).
    known = listed(a.program) if a.program else []
    report(runs, known)
    return 0


if __name__ == "__main__":
    sys.exit(main())
