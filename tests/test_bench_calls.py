"""Smoke run of the call benchmark: benchmarks/bench_calls.py --quick."""

import json
import os
import subprocess
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCRIPT = os.path.join(REPO, "benchmarks", "bench_calls.py")

try:
    import morvanex
except ImportError:
    morvanex = None


@pytest.mark.skipif(morvanex is None, reason="morvanex is not installed")
def test_quick_run_writes_one_verified_row_per_workload(tmp_path):
    done = subprocess.run(
        [sys.executable, SCRIPT, "--quick", "--out", str(tmp_path)],
        capture_output=True,
        text=True,
        encoding="utf-8",
        timeout=300,
        cwd=str(tmp_path),
    )
    assert done.returncode == 0, done.stdout + done.stderr

    report = json.loads((tmp_path / "bench_calls.json").read_text(encoding="utf-8"))
    rows = report["rows"]
    names = [row["workload"] for row in rows]
    assert names == report["workloads"]
    assert len(set(names)) == len(names)
    assert any(row["kind"] == "real" for row in rows), "no real-word workload"
    assert any(row["kind"] == "synthetic" for row in rows), "no synthetic workload"

    for row in rows:
        assert row["candidates"] > 0, row["workload"]
        assert row["call_s"] > 0 and row["per_candidate_s"] > 0 and row["floor_s"] > 0, row["workload"]
        assert all(t > 0 for t in row["call_runs_s"]), row["workload"]
        if row["kind"] == "real":
            # The module's values equal the reference model's on the sampled candidates.
            assert row["verified"] is True, row["workload"]
            assert row["python_s"] > 0, row["workload"]
    assert report["verified"] is True

    # The table went to standard output and to the markdown file.
    assert "| workload |" in done.stdout
    markdown = (tmp_path / "results.md").read_text(encoding="utf-8")
    for name in names:
        assert f"| {name} |" in markdown
