#!/usr/bin/env python3
"""What bench/run itself decides, without timing anything.

- The split scenario's check of its output: a file written whole counts as
  byte-identical wherever the recovery put it, once per copy the fragment
  held; one with zeros after it is whole but not identical; one cut short,
  or a second copy that never came out, is lost, by kind.
- A run of some scenarios (--only) rewrites their rows, details and notes in
  bench/RESULTS.md and keeps every other scenario's as they were, and a second
  such run does not stack its lines.
"""

import datetime
import hashlib
import os
import shutil
import sys
import tempfile
import types
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
KINDS = os.path.join(ROOT, "tests", "data", "kinds")
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from scripts import load_script  # noqa: E402

bench = load_script(os.path.join("bench", "run"), "bench_run")


def read(name):
    with open(os.path.join(KINDS, name), "rb") as f:
        return f.read()


def entry(name):
    data = read(name)
    return {"seed": name, "kind": os.path.splitext(name)[1], "size": len(data),
            "sha256": hashlib.sha256(data).hexdigest(),
            "stripped": hashlib.sha256(data.rstrip(b"\0")).hexdigest()}


class CompareSplit(unittest.TestCase):
    SEEDS = ["imagemagick.jpg", "imagemagick.png", "libreoffice-docx.docx"]

    def run_case(self, manifest, outputs):
        out = tempfile.mkdtemp()
        try:
            for i, (sub, data) in enumerate(outputs):
                os.makedirs(os.path.join(out, sub), exist_ok=True)
                with open(os.path.join(out, sub, f"FILE0000000-{i + 1:04d}"), "wb") as f:
                    f.write(data)
            identical, padded, lost, _ = bench.compare_split(manifest, out)
            return identical, padded, dict(lost)
        finally:
            shutil.rmtree(out)

    def test_outputs(self):
        for seed in self.SEEDS:
            self.assertTrue(os.path.exists(os.path.join(KINDS, seed)), seed)
        jpg, png, docx = (read(s) for s in self.SEEDS)
        three = [entry(s) for s in self.SEEDS]
        cases = [
            ("all whole, one in a kind's folder", three, [("", jpg), ("png", png), ("", docx)], (3, 0, {})),
            ("slack kept after one", three, [("", jpg), ("", png + bytes(4096)), ("", docx)], (2, 1, {})),
            ("one cut short", three, [("", jpg), ("", png[:-1]), ("", docx)], (2, 0, {".png": 1})),
            ("one missing", three, [("", jpg), ("", docx)], (2, 0, {".png": 1})),
            ("two copies held, one written", three + [entry("imagemagick.jpg")], [("", jpg), ("", png), ("", docx)],
             (3, 0, {".jpg": 1})),
            ("two copies held, both written", three + [entry("imagemagick.jpg")],
             [("", jpg), ("", png), ("", docx), ("", jpg)], (4, 0, {})),
            ("a file more than the fragment held", three, [("", jpg), ("", png), ("", docx), ("", jpg)], (3, 0, {})),
        ]
        for name, manifest, outputs, want in cases:
            with self.subTest(name):
                self.assertEqual(self.run_case(manifest, outputs), want)


class MergeResults(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(ROOT, "bench", "RESULTS.md")) as f:
            self.old = f.read()
        self.args = types.SimpleNamespace(quick=True, runs=3)
        self.corpus = types.SimpleNamespace(filesystem="ext4")

    def table(self, label):
        t = bench.Table()
        t.row(f"9 split recovery, {label}", "1 MiB/s", "2 MiB/s", "0.500x", ">= 0.8x", False)
        t.details.append((9, "tessaro-cli recover --split --trim", 1.0, 0.5, 0.5, 6.0, 0.9))
        t.notes.append(f"9: {label}")
        return t

    @staticmethod
    def lines(text, scenario):
        """The table rows and notes of `scenario`, spaces squeezed."""
        kept = []
        for line in text.splitlines():
            if line.startswith(("|", "- ")) and bench.scenario_of(line.strip("|- ")) == scenario:
                kept.append(" ".join(line.split()))
        return kept

    def merge(self, text, label):
        return bench.merge_results(text, self.args, "build", self.corpus, self.table(label), {9},
                                   datetime.datetime(2026, 1, 1))

    def test_scenario_replaced_others_kept(self):
        once = self.merge(self.old, "first")
        twice = self.merge(once, "second")
        for scenario in range(1, 9):
            with self.subTest(scenario=scenario):
                self.assertEqual(self.lines(twice, scenario), self.lines(self.old, scenario))
        nine = self.lines(twice, 9)
        self.assertEqual(sum("second" in line for line in nine), 2)  # the row and the note
        self.assertFalse(any("first" in line for line in nine))
        self.assertEqual(sum("tessaro-cli recover --split --trim" in line for line in nine), 1)
        self.assertEqual(twice.count("- Re-run alone, scenario 9:"), 1)
        self.assertTrue(twice.startswith(self.old[:self.old.index("## Machine")]))

    def test_other_shape_left_alone(self):
        self.assertIsNone(self.merge("# Benchmark results\n\nsomething else\n", "first"))


if __name__ == "__main__":
    unittest.main()
