#!/usr/bin/env python3
"""What run_three.py makes of saved runs: pairs found by the names the
benchmarks have (arguments and all), an error shown as one, a benchmark
with no partner listed, a pair naming a benchmark the program lacks."""
import contextlib
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_three  # noqa: E402


def bench(name, ms, error=None):
    b = {"name": name, "run_name": name, "run_type": "iteration", "real_time": ms, "cpu_time": ms,
         "time_unit": "ms"}
    if error:
        b.update(error_occurred=True, error_message=error)
    return b


class Report(unittest.TestCase):
    def test_pairs_errors_and_names_without_partner(self):
        runs = [run_three.values({"benchmarks": [
            bench("BM_TgaDecodeEngine24/512", 3), bench("BM_TgaMemcpyBaseline24/512", 2),
            bench("BM_TgaDecodeEngine24/1024/iterations:5", 8), bench("BM_TgaMemcpyBaseline24/1024", 4),
            bench("BM_SkinnedMesh5kAnimateAndDraw", 0, "the engine and raw GL drew different pictures"),
            bench("BM_RawGlPreSkinned5k", 1), bench("BM_Renamed", 1)]})]
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            run_three.report(runs, ["BM_TgaDecodeEngine24/512", "BM_TgaMemcpyBaseline24/512"])
        text = out.getvalue()
        self.assertIn("| BM_TgaDecodeEngine24/512 | BM_TgaMemcpyBaseline24/512 | 1.50 | 1.50 |", text)
        self.assertIn("| BM_TgaDecodeEngine24/1024/iterations:5 | BM_TgaMemcpyBaseline24/1024 | 2.00 |", text)
        self.assertIn("| BM_SkinnedMesh5kAnimateAndDraw | error | | run 1: the engine and raw GL drew", text)
        self.assertIn("| BM_SkinnedMesh5kAnimateAndDraw | BM_RawGlPreSkinned5k | error | error |", text)
        self.assertIn("| BM_Renamed | no partner in these runs |", text)
        self.assertIn("does not have: BM_Crc32Engine / BM_Crc32ZlibBaseline", text)

    def test_a_side_whose_partner_has_other_arguments(self):
        made, unpaired, mismatched = run_three.pairing(["BM_TgaDecodeEngine32/512", "BM_TgaMemcpyBaseline32/500"])
        self.assertEqual(made, [])
        self.assertEqual(mismatched, unpaired)
        self.assertEqual(len(unpaired), 2)


if __name__ == "__main__":
    unittest.main()
