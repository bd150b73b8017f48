#!/usr/bin/env python3
"""Runs the benchmark program three times pinned to two cores, each run
with its benchmarks interleaved at random and repeated, and prints, for
every benchmark, the median of the three runs (each run's figure is the
median of its repetitions) and their spread, and for every pair of ours and
its baseline the ratio taken within each run (median and spread). Usage:

    SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy \
        bench/run_three.py build/bench/bench/quild_bench [--filter REGEX] [--cpus 0,1] \
        [--repetitions 3] [--keep DIR]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

# (ours, baseline): real time, or a counter written name:counter.
PAIRS = [
    ("BM_Crc32Engine", "BM_Crc32ZlibBaseline"),
    ("BM_ObjectPool48", "BM_Malloc48Baseline"),
    ("BM_GlobalNew64/threads:1", "BM_StdNew64Baseline/threads:1"),
    ("BM_GlobalNew64/threads:8", "BM_StdNew64Baseline/threads:8"),
    ("BM_StringPoolInternFind", "BM_UnorderedSetBaseline"),
    ("BM_StartToFirstFrame_EngineVsBare/iterations:15:engine_startup_ms",
     "BM_StartToFirstFrame_EngineVsBare/iterations:15:bare_startup_ms"),
    ("BM_StartToFirstFrame_EngineVsBare/iterations:15:engine_startup_cpu_ms",
     "BM_StartToFirstFrame_EngineVsBare/iterations:15:bare_startup_cpu_ms"),
    ("BM_WholeProcess_EngineVsBare/iterations:15/real_time:engine_ms",
     "BM_WholeProcess_EngineVsBare/iterations:15/real_time:bare_ms"),
    ("BM_WholeProcess_EngineVsBare/iterations:15/real_time:engine_cpu_ms",
     "BM_WholeProcess_EngineVsBare/iterations:15/real_time:bare_cpu_ms"),
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
    ("BM_VideoPlayerDecode", "BM_TheoraDecodeBaseline"),
    ("BM_WindowFrame", "BM_WindowFrame_RawSdl"),
    ("BM_PanoramaFrame/real_time", "BM_RawGlPanoramaQuads/real_time"),
    ("BM_PickAmong1000Hotspots", "BM_RectLoop1000"),
    ("BM_SaveScreenshotJpeg/real_time", "BM_LibjpegEncode1024x768/real_time"),
    ("BM_SaveScreenshotJpeg/real_time", "BM_ReadBackAndLibjpegEncode/0/real_time"),
    ("BM_SaveScreenshotJpeg/real_time", "BM_ReadBackAndLibjpegEncode/1/real_time"),
    ("BM_EngineIdleFrame", "BM_WindowFrame"),
    ("BM_ModeAndTextureChanges200", "BM_RawGlModeAndTextureChanges200"),
    ("BM_NodeSwitchToCubeScene/real_time", "BM_DecodeUploadSixFaces/real_time"),
    ("BM_DissolveFrame/real_time", "BM_RawGlTwoTexturedQuads/real_time"),
    ("BM_Particles10kStepAndDraw", "BM_RawGlParticleVertices60k"),
    ("BM_SkinnedMesh5kAnimateAndDraw", "BM_RawGlPreSkinned5k"),
    ("BM_EffectsFrame/real_time", "BM_RawGlEffectsQuads/real_time"),
    ("BM_GetPropertyNumber", "BM_BareTwoArgumentCallBaseline"),
    ("BM_SetPropertyNumber", "BM_BareTwoArgumentCallBaseline"),
    ("BM_HotspotByNameAmong1000", "BM_HotspotByNameBaseline"),
    ("BM_HotspotAtDirection", "BM_HotspotAtDirectionBaseline"),
    ("BM_GetBuildFromLua", "BM_BareFunctionBaseline"),
    ("BM_EditorKeystroke1MB", "BM_EditorDrawOnly1MB"),
    ("BM_EditorOpen1MB", "BM_FreadSplitLines1MB"),
    ("BM_FirstUseOfStateCombination/iterations:36/real_time", "BM_WarmStateCombinationBaseline/real_time"),
    ("BM_FirstUseOfHlslProgram/iterations:20/real_time", "BM_WarmHlslProgramBaseline/real_time"),
]

UNITS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def run_once(program, cpus, bench_filter, repetitions, keep, index):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(keep or tmp, "run%d.json" % index)
        cmd = ["taskset", "-c", cpus, program, "--benchmark_out=" + out, "--benchmark_out_format=json",
               "--benchmark_enable_random_interleaving=true", "--benchmark_repetitions=%d" % repetitions]
        if bench_filter:
            cmd.append("--benchmark_filter=" + bench_filter)
        subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        with open(out) as f:
            return json.load(f)


def values(run):
    """name -> {"time_ms": real time in ms, counters...}, each the median of
    the run's repetitions of that benchmark."""
    reps = {}
    for b in run["benchmarks"]:
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        v = {"time_ms": b["real_time"] * UNITS[b.get("time_unit", "ns")], "cpu_ms": b["cpu_time"] * UNITS[b.get("time_unit", "ns")]}
        for k, x in b.items():
            if k.endswith("_ms") or k in ("gl_state_calls_per_frame", "ratio"):
                v[k] = x
        if b.get("label"):
            v["label"] = b["label"]
        reps.setdefault(b.get("run_name", b["name"]), []).append(v)
    table = {}
    for name, rows in reps.items():
        row = {k: statistics.median([r[k] for r in rows if k in r]) for k in rows[0] if k != "label"}
        if "label" in rows[0]:
            row["label"] = rows[0]["label"]
        table[name] = row
    return table


def pick(table, key):
    # Names hold ':' themselves (threads:8); a trailing ":name_ms" is a counter.
    # Threaded runs compare CPU time per operation (eight threads share
    # two cores).
    name, counter = key, "cpu_ms" if "/threads:" in key else "time_ms"
    head, _, tail = key.rpartition(":")
    if tail.endswith("_ms"):
        name, counter = head, tail
    row = table.get(name)
    return None if row is None or counter not in row else row[counter]


def fmt(x):
    if x >= 100:
        return "%.0f" % x
    if x >= 10:
        return "%.1f" % x
    if x >= 1:
        return "%.2f" % x
    return "%.3g" % x


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--filter", default="")
    ap.add_argument("--cpus", default="0,1")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--repetitions", type=int, default=3)
    ap.add_argument("--keep", help="keep each run's JSON in this folder")
    ap.add_argument("--json", nargs="*", help="summarise these saved runs (--benchmark_out files) instead")
    a = ap.parse_args()
    if a.json:
        runs = []
        for path in a.json:
            with open(path) as f:
                runs.append(values(json.load(f)))
        a.runs = len(runs)
    else:
        runs = [values(run_once(a.program, a.cpus, a.filter, a.repetitions, a.keep, i)) for i in range(a.runs)]
    names = list(runs[0].keys())
    print("| benchmark | median (ms) | spread over %d runs | notes |" % a.runs)
    print("|---|---|---|---|")
    for n in names:
        keys = [k for k in runs[0][n] if k not in ("label",)]
        for k in keys:
            xs = [r[n][k] for r in runs if n in r and k in r[n]]
            if not xs:
                continue
            print("| %s%s | %s | %s-%s | %s |" % (n, "" if k == "time_ms" else " " + k, fmt(statistics.median(xs)),
                                                 fmt(min(xs)), fmt(max(xs)), runs[0][n].get("label", "")))
    print()
    print("| ours | baseline | ratio (median) | ratios in the %d runs |" % a.runs)
    print("|---|---|---|---|")
    for ours, base in PAIRS:
        ratios = []
        for r in runs:
            o, b = pick(r, ours), pick(r, base)
            if o is not None and b:
                ratios.append(o / b)
        if ratios:
            print("| %s | %s | %.2f | %s |" % (ours, base, statistics.median(ratios), ", ".join("%.2f" % x for x in ratios)))


if __name__ == "__main__":
    sys.exit(main())
