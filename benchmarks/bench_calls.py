#!/usr/bin/env python3
"""Whole calls of morvanex.run_scoring_iteration against the floor and plain Python.

    python benchmarks/bench_calls.py                  # every workload, about a quarter of an hour
    python benchmarks/bench_calls.py --quick          # bundled words and short candidates, prints only
    python benchmarks/bench_calls.py --workloads english,long-1e5 --repeats 3

Word lists are Debian's (apt-get install wamerican-large wngerman wpolish); a
missing one is skipped.  How workloads are built and what each figure means is
printed under the tables (METHODS below).  The exit status is 3 when a check
fails: the module's values must equal reference/reference_model.py on a sample, bit
for bit, and the parallel result must equal the single-threaded one.
"""

import argparse
import array
import collections
import ctypes
import gc
import itertools
import math
import os
import platform
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "reference"))

import morvanex  # noqa: E402
import reference_model  # noqa: E402

WORD_LISTS = {
    "english": "/usr/share/dict/american-english-large",
    "german": "/usr/share/dict/ngerman",
    "polish": "/usr/share/dict/polish",
    "bundled": os.path.join(os.path.dirname(HERE), "src", "morvanex_tools", "data", "words.txt"),
}
FULL_RUN = "english,german,polish,long-1e4,long-1e5,long-1e6"
QUICK_RUN = "bundled,long-1e3,long-1e4"
THREADS = "MORVANEX_NUM_THREADS"
SEED = 20240607

METHODS = """\
Workloads. A word list is used the way a user uses one: its distinct lines as roots;
prefixes and suffixes of 1-5 characters (shorter than the word) shared by one word in
2,000 (at least 5) as affixes; as scores, each substring of 2-8 characters seen once in
40,000 words (at least twice) and each letter, by relative frequency among the pieces of
its length, and every second word (1 / number of words); the letters as the whitelist.
Counting runs collections.Counter over slices of at most 200,000 evenly spaced words, so
even the 4.3 M-word list builds in well under a minute ("built in"). long-N: one
candidate of N characters over 'acgt', 2,000 random keys of 2-8 letters and the letters.

Floor: `dict(scores)` plus `{w: 0.5 for w in candidates}` over the same objects. One call
runs with MORVANEX_NUM_THREADS unset, the parallel call with MORVANEX_NUM_THREADS=0. Every
timed thing takes turns with the others; figures are medians over the turns (sums and
differences taken within each turn), freeing results untimed.
Parts, from further calls (C = all candidates as one set): scores in = a call with the
candidate "a" and the same scores and whitelist (converting, ordering, building the trie);
result out = a call (C, D, {}, {}) less a call (C, C, {}, {}), D being C with U+0001 put
before each string: both convert, order and search as much, the first makes |C| more
result entries; candidates in = a call (C, {}, {}, {}) less result out (converting,
ordering, a search that fails at once); scoring = the call less scores in and the call
(C, {}, {}, {}); parallel scoring the same from the parallel call. Parts and their
floors in thread CPU time (time.thread_time), scoring also in wall time.
Plain Python: the textbook search with pieces no longer than the longest key, timed on the
sample and scaled to all candidates. Verified: the call's keys are the candidates; its
values equal reference/reference_model.py bit for bit on the sample and on up to a tenth as
many more affixes (over 100 characters: the plain-Python version, itself checked against
the model on every shorter one); the parallel result equals it in values and key order.
Peak MiB: in a fresh interpreter per workload and setting, the highest resident memory
during one call (VmHWM, reset through /proc/self/clear_refs just before it) less the
resident memory before it; the result dict is included. Result dict MiB: sys.getsizeof of
the dict and its keys, plus 24 bytes per float value."""


def log(message):
    print(message, file=sys.stderr, flush=True)


def word_workload(path):
    with open(path, encoding="utf-8") as handle:
        words = list(dict.fromkeys(line.strip() for line in handle if line.strip()))
    counted = words[:: -(-len(words) // 200_000)]
    ends = collections.Counter()
    for n in range(1, 6):
        ends.update(w[:n] for w in counted if len(w) > n)
        ends.update(w[-n:] for w in counted if len(w) > n)
    affixes = {a for a, count in ends.items() if count >= max(5, len(counted) / 2000)}
    scores = {}
    for n in range(1, 9):
        pieces = collections.Counter(w[i : i + n] for w in counted for i in range(len(w) - n + 1))
        total = sum(pieces.values())
        if n == 1:
            letters = {c for c in pieces if c.isalpha()}
            scores.update((c, pieces[c] / total) for c in letters)
        else:
            scores.update((p, c / total) for p, c in pieces.items() if c >= max(2, len(counted) / 40_000))
    scores.update((w, 1.0 / len(words)) for w in words[::2])
    return set(words), affixes, scores, letters


def long_workload(length):
    rng = random.Random(SEED)
    scores = {c: rng.random() for c in "acgt"}
    while len(scores) < 2004:
        scores["".join(rng.choices("acgt", k=rng.randint(2, 8)))] = rng.random()
    return {"".join(rng.choices("acgt", k=length))}, set(), scores, set("acgt")


def build(name):
    return long_workload(int(float(name[5:]))) if name.startswith("long-") else word_workload(WORD_LISTS[name])


def plain_score(s, is_affix, scores, whitelist, longest):
    """The new score of s by the textbook search, its pieces bounded by the longest key."""
    n = len(s)
    best = [-1.0] * (n + 1)
    best[0] = 0.0
    for i in range(1, n + 1):
        for j in range(max(0, i - longest), i):
            if best[j] > -1.0 and (not is_affix or j == 0 or i == n):
                piece = s[j:i]
                value = scores.get(piece)
                if value is not None and (i - j > 1 or piece in whitelist) and best[j] + value > best[i]:
                    best[i] = best[j] + value
    previous = scores.get(s, 0.0)
    return previous if best[n] < 0.0 or previous >= best[n] else (1.0 / n) / (best[n] + 1.0)


def model_score(s, is_affix, scores, whitelist):
    cover, _ = reference_model.best_cover(s, scores, whitelist, is_affix)
    return reference_model.updated_score(scores.get(s, 0.0), cover, len(s))


def bits(values):
    return array.array("d", values).tobytes()


def call(args, threads=None):
    """One call with MORVANEX_NUM_THREADS unset, or set to `threads`."""
    os.environ.pop(THREADS, None)
    if threads:
        os.environ[THREADS] = threads
    try:
        return morvanex.run_scoring_iteration(*args)
    finally:
        os.environ.pop(THREADS, None)


def turns(functions, repeats):
    """One dict per turn: each function's seconds under its name, and the calling thread's
    CPU seconds under "cpu " + name.  Freeing what a function returns is not timed."""
    timed = []
    gc.disable()
    try:
        for _ in range(repeats):
            timed.append({})
            for name, function in functions.items():
                wall, cpu = time.perf_counter(), time.thread_time()
                kept = function()
                timed[-1]["cpu " + name], timed[-1][name] = time.thread_time() - cpu, time.perf_counter() - wall
                del kept
    finally:
        gc.enable()
    return timed


def peak_memory(name, threads):
    done = subprocess.run([sys.executable, __file__, "--memory-probe", name, "--threads", threads],
                          capture_output=True, text=True)
    if done.returncode != 0:
        log(f"memory probe of {name} failed:\n{done.stderr}")
    return float(done.stdout) if done.returncode == 0 else None


def memory_probe(name, threads):
    def status(key):
        with open("/proc/self/status") as handle:
            return next(int(line.split()[1]) for line in handle if line.startswith(key + ":")) / 1024

    args = build(name)
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # memory freed by building must not be reused unseen
    with open("/proc/self/clear_refs", "w") as handle:
        handle.write("5")  # the peak (VmHWM) starts again from the current RSS
    before = status("VmRSS")
    result = call(args, threads)
    print(status("VmHWM") - before)
    del result


def measure(name, args, built, repeats, sample_size):
    roots, affixes, scores, whitelist = args
    candidates = (roots | affixes) - {""}
    row = {"workload": name, "candidates": len(candidates), "scores": len(scores), "built": built,
           "characters": sum(map(len, candidates))}
    log(f"{name}: {len(roots):,} roots, {len(affixes):,} affixes, {len(scores):,} scores, built in {built:.1f} s")

    single, parallel = call(args), call(args, "0")  # also the warm-up
    rng = random.Random(SEED)
    sample = rng.sample(sorted(candidates), min(sample_size, len(candidates)))
    checked = sample + rng.sample(sorted(affixes - {""}), min(sample_size // 10, len(affixes - {""})))
    longest = max(map(len, scores))
    plain = [plain_score(s, s in affixes, scores, whitelist, longest) for s in checked]
    model = [model_score(s, s in affixes, scores, whitelist) if len(s) <= 100 else p for s, p in zip(checked, plain)]
    row["verified"] = (single.keys() == candidates
                       and bits(single[s] for s in checked) == bits(model) == bits(plain)
                       and list(single) == list(parallel) and bits(single.values()) == bits(parallel.values()))
    row["result MiB"] = (sys.getsizeof(single) + sum(map(sys.getsizeof, single)) + 24 * len(single)) / 2**20
    del single, parallel

    empty, one_letter, disjoint = set(), {"a"}, {"\x01" + w for w in candidates}
    timed = turns({
        "floor scores": lambda: dict(scores),
        "floor result": lambda: {w: 0.5 for w in itertools.chain(roots, affixes)},
        "floor candidates": lambda: set(candidates),
        "call": lambda: call(args),
        "parallel": lambda: call(args, "0"),
        "scores in": lambda: call((one_letter, empty, scores, whitelist)),
        "no scores": lambda: call((candidates, empty, {}, empty)),
        "twice": lambda: call((candidates, candidates, {}, empty)),
        "disjoint": lambda: call((candidates, disjoint, {}, empty)),
        "plain Python": lambda: {s: plain_score(s, s in affixes, scores, whitelist, longest) for s in sample},
    }, repeats)
    row.update({name: statistics.median(t[name] for t in timed) for name in timed[0]})
    row["plain Python"] *= len(candidates) / len(sample)
    # Sums and differences are taken within a turn, where the load was the same; the
    # parts in thread CPU time, which waiting for a core on a shared machine leaves out.
    for part, of_turn in (("floor", lambda t: t["floor scores"] + t["floor result"]),
                          ("cpu floor", lambda t: t["cpu floor scores"] + t["cpu floor result"]),
                          ("result out", lambda t: t["cpu disjoint"] - t["cpu twice"]),
                          ("candidates in", lambda t: t["cpu no scores"] - t["cpu disjoint"] + t["cpu twice"]),
                          ("scoring", lambda t: t["cpu call"] - t["cpu scores in"] - t["cpu no scores"]),
                          ("scoring wall", lambda t: t["call"] - t["scores in"] - t["no scores"]),
                          ("parallel scoring wall", lambda t: t["parallel"] - t["scores in"] - t["no scores"])):
        row[part] = statistics.median(map(of_turn, timed))
    row["memory"], row["parallel memory"] = peak_memory(name, ""), peak_memory(name, "0")
    log(f"  call {row['call']:.3f} s, floor {row['floor']:.3f} s, verified {row['verified']}")
    return row


def module_build():
    """The installed wheel's tag and how its module reads strings."""
    try:
        from importlib import metadata

        wheel = metadata.distribution("morvanex").read_text("WHEEL") or ""
        tag = next((line.split(":", 1)[1].strip() for line in wheel.splitlines() if line.startswith("Tag:")), "?")
    except Exception:  # noqa: BLE001 - a module not installed from a wheel
        tag = "?"
    reading = {"cp38": "through a temporary bytes object per string (stable ABI of 3.8)",
               "cp310": "where the interpreter keeps their UTF-8 form (stable ABI of 3.10)"}
    return f"wheel {tag}, strings read {reading.get(tag.split('-')[0], '(unknown)')}"


def machine():
    with open("/proc/cpuinfo") as handle:
        model = next((line.split(":", 1)[1].strip() for line in handle if line.startswith("model name")), "?")
    return (f"{len(os.sched_getaffinity(0))} CPUs (nproc), {model}, "
            f"{platform.python_implementation()} {platform.python_version()}, {platform.system()}")


def secs(seconds):
    return f"{seconds:.3g} s" if abs(seconds) >= 0.1 else f"{seconds * 1000:.3g} ms"


def report(rows, command, repeats, loads):
    mib = lambda value: "—" if value is None else f"{value:.1f}"  # noqa: E731
    lines = [
        "# morvanex call benchmark", "",
        f"`{command}` on {machine()}; load average {loads[0]:.1f} at the start, {loads[1]:.1f} at the end "
        f"(the machine is shared); medians of {repeats} runs.", "",
        f"Module: {module_build()}.", "",
        "| workload | built in | candidates | scores | floor | one call | call / floor | parallel call "
        "| parallel / floor | plain Python | plain Python / call | peak MiB (1 thread / parallel) | result dict MiB "
        "| verified |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r['workload']} | {secs(r['built'])} | {r['candidates']:,} | {r['scores']:,} | {secs(r['floor'])} "
            f"| {secs(r['call'])} | {r['call'] / r['floor']:.1f}× | {secs(r['parallel'])} "
            f"| {r['parallel'] / r['floor']:.1f}× | {secs(r['plain Python'])} | {r['plain Python'] / r['call']:.0f}× "
            f"| {mib(r['memory'])} / {mib(r['parallel memory'])} | {mib(r['result MiB'])} "
            f"| {'yes' if r['verified'] else 'NO'} |")
    lines += ["", "Where one call goes, each part in thread CPU time against its own floor; scoring also "
                  "in wall time, single-threaded and parallel:", "",
              "| workload | one call | / floor | scores in | / dict(scores) | candidates in | / set(candidates) "
              "| result out | / {w: 0.5 for w in candidates} | scoring (share of call) | scoring, wall "
              "| parallel, wall |",
              "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        lines.append(
            f"| {r['workload']} | {secs(r['cpu call'])} | {r['cpu call'] / r['cpu floor']:.1f}× "
            f"| {secs(r['cpu scores in'])} | {r['cpu scores in'] / r['cpu floor scores']:.1f}× "
            f"| {secs(r['candidates in'])} | {r['candidates in'] / r['cpu floor candidates']:.1f}× "
            f"| {secs(r['result out'])} | {r['result out'] / r['cpu floor result']:.1f}× "
            f"| {secs(r['scoring'])} ({r['scoring'] / r['cpu call']:.0%}) | {secs(r['scoring wall'])} "
            f"| {secs(r['parallel scoring wall'])} |")
    growth = [(r["characters"], r["cpu call"] - r["cpu scores in"]) for r in rows if r["workload"].startswith("long-")]
    growth = [(length, seconds) for length, seconds in growth if seconds > 0]  # lost in noise otherwise
    if len(growth) > 1:
        slope = loglog_slope(growth)
        lines += ["", f"Long candidates: the call less scores in (thread CPU) grows with length at a log-log "
                      f"slope of {slope:.2f} (1 = linear)."]
    return "\n".join(lines + ["", METHODS, ""])


def loglog_slope(points):
    xs, ys = [math.log(x) for x, _ in points], [math.log(y) for _, y in points]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def plot(rows, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return log("matplotlib is not installed (pip install matplotlib): no plot")
    words = [r for r in rows if not r["workload"].startswith("long-")]
    long_rows = [r for r in rows if r["workload"].startswith("long-")]
    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 4.8), gridspec_kw={"width_ratios": (3, 2)})
    start = [0.0] * len(words)
    for part in ("cpu scores in", "candidates in", "scoring", "result out"):
        widths = [r[part] / r["cpu floor"] for r in words]
        left.barh(range(len(words)), widths, left=start, label=part.replace("cpu ", ""))
        start = [a + b for a, b in zip(start, widths)]
    for key, colour in (("call", "white"), ("parallel", "black")):
        left.scatter([r[key] / r["floor"] for r in words], range(len(words)), color=colour, edgecolor="black",
                     zorder=3, label=f"{key} (wall)")
    for target in (2, 3):
        left.axvline(target, color="grey", linestyle="--")
    left.set(yticks=range(len(words)), yticklabels=[r["workload"] for r in words],
             xlabel="one call in units of the floor: bars by part (thread CPU), dots whole calls (wall)")
    left.legend(fontsize="small", ncol=3, loc="lower left", bbox_to_anchor=(0, 1))
    for key, style in (("call", "o-"), ("plain Python", "s-")):
        right.loglog([r["characters"] for r in long_rows], [r[key] for r in long_rows], style, label=key)
    right.set(xlabel="candidate length (characters)", ylabel="seconds", title="one long candidate, 2,000 keys")
    right.grid(True, which="both", alpha=0.3)
    right.legend(fontsize="small")
    figure.suptitle(machine(), fontsize="small", x=0.98, ha="right")
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help=f"workloads {QUICK_RUN}, 3 runs, no files")
    parser.add_argument("--workloads", help=f"comma-separated (default {FULL_RUN})")
    parser.add_argument("--repeats", type=int, help="timed runs per figure (default 5; 3 with --quick)")
    parser.add_argument("--sample", type=int, help="candidates checked and timed in plain Python (default 2000)")
    parser.add_argument("--out", help="directory for results.md and bench_calls.png (default benchmarks/)")
    parser.add_argument("--memory-probe", help=argparse.SUPPRESS)
    parser.add_argument("--threads", help=argparse.SUPPRESS)
    options = parser.parse_args(argv)
    if options.memory_probe:
        return memory_probe(options.memory_probe, options.threads)
    repeats = options.repeats or (3 if options.quick else 5)
    sample = options.sample or (200 if options.quick else 2000)
    out = options.out or (None if options.quick else HERE)
    loads, rows = [os.getloadavg()[0]], []
    for name in (options.workloads or (QUICK_RUN if options.quick else FULL_RUN)).split(","):
        if name in WORD_LISTS and not os.path.exists(WORD_LISTS[name]):
            log(f"skipping {name}: {WORD_LISTS[name]} not found")
            continue
        started = time.perf_counter()
        args = build(name)
        rows.append(measure(name, args, time.perf_counter() - started, repeats, sample))
        del args
    loads.append(os.getloadavg()[0])
    command = " ".join(["python benchmarks/bench_calls.py"] + (sys.argv[1:] if argv is None else argv))
    text = report(rows, command, repeats, loads)
    print(text)
    if out:
        os.makedirs(out, exist_ok=True)
        with open(os.path.join(out, "results.md"), "w", encoding="utf-8") as handle:
            handle.write(text)
        plot(rows, os.path.join(out, "bench_calls.png"))
    return 0 if rows and all(r["verified"] for r in rows) else 3


if __name__ == "__main__":
    sys.exit(main())
