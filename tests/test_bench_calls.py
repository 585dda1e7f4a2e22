"""Smoke run of the call benchmark: benchmarks/bench_calls.py --quick."""

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


def seconds(text):
    number, unit = text.split()
    return float(number) * {"s": 1.0, "ms": 1e-3}[unit]


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

    markdown = (tmp_path / "results.md").read_text(encoding="utf-8")
    assert markdown == done.stdout.rstrip("\n") + "\n"
    header, rows = None, {}
    for line in markdown.splitlines():
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        if cells[0] == "workload" and header is None:
            header = cells
        elif header and len(cells) == len(header) and not cells[0].startswith("---"):
            rows.setdefault(cells[0], dict(zip(header, cells)))
    assert list(rows) == ["bundled", "long-1e3", "long-1e4"]
    for name, row in rows.items():
        assert int(row["candidates"].replace(",", "")) > 0, name
        floor, call = seconds(row["floor"]), seconds(row["one call"])
        assert 0 < floor and 0 < call and 0 < seconds(row["parallel call"]), name
        assert float(row["call / floor"].rstrip("×")) == pytest.approx(call / floor, rel=0.05, abs=0.1), name
        assert row["verified"] == "yes", name
    assert "CPUs (nproc)" in markdown and "load average" in markdown
