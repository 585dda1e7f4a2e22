#!/usr/bin/env python3
"""Call-level benchmark of morvanex.run_scoring_iteration.

One command (the module must be installed in the interpreter that runs it):

    python -m venv .venv-bench
    .venv-bench/bin/pip install . matplotlib
    .venv-bench/bin/python benchmarks/bench_calls.py            # full run, a few minutes
    .venv-bench/bin/python benchmarks/bench_calls.py --quick    # smoke run, under a minute

Word lists (Debian packages; a missing list is skipped with a message):

    apt-get install wamerican-large wngerman
    # -> /usr/share/dict/american-english-large, /usr/share/dict/ngerman

The small list bundled with the examples (examples/data/words.txt) is always
available, so every run has at least one real-word workload: --quick uses it
alone, and a full run falls back to it when the English list is missing.

What it measures, per workload (each call is timed several times; medians):

* real words: roots = the words (lowercased, deduplicated); affixes = the
  prefixes and suffixes of 1 to 5 characters that many words share; scores =
  the relative frequency of every substring of 2 to 8 characters seen often
  enough, of every character, and a score for every root; whitelist = the
  letters.  Variants: the English list transliterated letter by letter into
  Cyrillic (every letter two bytes in UTF-8), the German words that hold
  a/o/u-umlauts or sharp s, and compounds of 50 to 200 characters made of
  random English words (seeded);
* synthetic scaling: one candidate of 10^2 .. 10^6 characters over a
  four-letter alphabet, every letter whitelisted and scored, 2000 random keys
  of 2 to 8 characters;
* the pure-Python reference model (tests/reference_model.py) on a
  deterministic sample of the candidates, scaled to the whole workload, and on
  the synthetic candidates it can finish in a few seconds;
* the "floor": what building a result of the same size and touching every
  input costs with CPython builtins;
* peak memory of one call beyond its arguments and its result, in a fresh
  subprocess per workload, against the memory the arguments take.

Every module result on the sampled candidates is compared with the reference
model's, bit for bit ("verified" in the JSON).

Outputs: the markdown table on standard output; JSON in
benchmarks/results/bench_calls.json; for a full run also the table in
benchmarks/results.md and the plot in benchmarks/bench_calls.png (--quick
writes all three under benchmarks/results/; --out DIR puts all three in DIR).
"""

import argparse
import collections
import ctypes
import datetime
import gc
import json
import math
import os
import pickle
import platform
import random
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests"))

BUNDLED_WORDS = os.path.join(REPO, "examples", "data", "words.txt")
ENGLISH_WORDS = "/usr/share/dict/american-english-large"
GERMAN_WORDS = "/usr/share/dict/ngerman"
WORD_LIST_PACKAGES = {ENGLISH_WORDS: "wamerican-large", GERMAN_WORDS: "wngerman"}

# Fixed letter-by-letter transliteration of the English list (Latin a-z to
# Cyrillic; other characters are kept).  It is one-to-one, so the Cyrillic
# workload is the English one with two-byte letters.
CYRILLIC = str.maketrans("abcdefghijklmnopqrstuvwxyz", "абцдефгхийклмнопярстужвьыз")

SYNTHETIC_ALPHABET = "acgt"
SYNTHETIC_KEYS = 2000
SEED = 20240607

# Targets, shown as marks in the table; nothing is asserted.
PYTHON_SPEEDUP_TARGET = 100.0  # at least this many times faster than the pure-Python model
FLOOR_RATIO_TARGET = 2.0  # at most this many times the floor
MEMORY_RATIO_TARGET = 0.5  # peak extra memory at most this fraction of the arguments' memory
LINEAR_SLOPE_TARGET = 1.15  # log-log slope of time against length, 10^4 .. 10^6 characters

MIB = 1024.0 * 1024.0


# --------------------------------------------------------------------------- workloads


class Workload:
    """The four arguments of one call, with how they were made."""

    def __init__(self, name, kind, description, roots, affixes, scores, whitelist, params=None):
        self.name = name
        self.kind = kind  # "real" or "synthetic"
        self.description = description
        self.roots = roots
        self.affixes = affixes
        self.scores = scores
        self.whitelist = whitelist
        self.params = params or {}
        self.sample_size = None  # candidates the pure-Python model scores; None: the run's default

    @property
    def args(self):
        return (self.roots, self.affixes, self.scores, self.whitelist)

    def scorer_calls(self):
        """Candidates the scorer sees: non-empty roots plus non-empty affixes."""
        return sum(1 for s in self.roots if s) + sum(1 for s in self.affixes if s)

    def characters(self):
        return sum(len(s) for s in self.roots) + sum(len(s) for s in self.affixes)


def read_words(path):
    """The distinct lowercased words of a UTF-8 file, one per line, in file order."""
    with open(path, encoding="utf-8") as handle:
        words = {}
        for line in handle:
            word = line.strip().lower()
            if word:
                words.setdefault(word, None)
    return list(words)


def shared_affixes(words, min_shared, max_length=5):
    """Prefixes and suffixes of 1..max_length characters that min_shared words share.

    A word does not count for its own full text.
    """
    prefixes = collections.Counter()
    suffixes = collections.Counter()
    for length in range(1, max_length + 1):
        longer = [w for w in words if len(w) > length]
        prefixes.update(w[:length] for w in longer)
        suffixes.update(w[-length:] for w in longer)
    shared = {a for a, c in prefixes.items() if c >= min_shared}
    shared.update(a for a, c in suffixes.items() if c >= min_shared)
    return shared


def substring_scores(words, min_count, max_length=8):
    """Relative frequency (among substrings of the same length) of every character
    and of every substring of 2..max_length characters seen min_count times or more."""
    scores = {}
    for length in range(1, max_length + 1):
        counts = collections.Counter(
            w[i : i + length] for w in words if len(w) >= length for i in range(len(w) - length + 1)
        )
        total = sum(counts.values())
        if not total:
            continue
        for piece, count in counts.items():
            if length == 1 or count >= min_count:
                scores[piece] = count / total
        del counts
    return scores


def word_workload(name, description, words, min_shared, min_count):
    """Roots, affixes, scores and whitelist of a word list."""
    roots = set(words)
    affixes = shared_affixes(words, min_shared)
    scores = {}
    root_score = 1.0 / len(roots)
    for root in words:
        scores[root] = root_score
    scores.update(substring_scores(words, min_count))
    whitelist = {c for w in words for c in w if c.isalpha()}
    params = {"words": len(words), "min_shared": min_shared, "min_count": min_count}
    return Workload(name, "real", description, roots, affixes, scores, whitelist, params)


def transliterated(base, name, description):
    """The same workload with every string passed through the Cyrillic table."""
    t = lambda s: s.translate(CYRILLIC)  # noqa: E731
    roots = {t(s) for s in base.roots}
    affixes = {t(s) for s in base.affixes}
    scores = {t(k): v for k, v in base.scores.items()}
    whitelist = {t(s) for s in base.whitelist}
    return Workload(name, "real", description, roots, affixes, scores, whitelist, dict(base.params))


def compound_workload(base, words, name, description, count, sample_size, seed=SEED):
    """Compounds of 50..200 characters joined from random words of the base list.

    Affixes, substring scores and whitelist are the base workload's; every
    compound gets a root score as well.
    """
    rng = random.Random(seed)
    compounds = set()
    while len(compounds) < count:
        target = rng.randint(50, 200)
        text = ""
        while len(text) < target:
            word = rng.choice(words)
            if len(text) + len(word) > 200:
                if len(text) >= 50:
                    break
                continue
            text += word
        compounds.add(text)
    scores = dict(base.scores)
    root_score = 1.0 / len(compounds)
    for compound in compounds:
        scores.setdefault(compound, root_score)
    params = dict(base.params, compounds=count, seed=seed)
    workload = Workload(name, "real", description, compounds, set(base.affixes), scores, set(base.whitelist), params)
    workload.sample_size = sample_size
    return workload


def synthetic_keys(seed=SEED):
    """Scores for the four letters and 2000 random distinct keys of 2..8 letters."""
    rng = random.Random(seed)
    scores = {c: rng.random() for c in SYNTHETIC_ALPHABET}
    while len(scores) < len(SYNTHETIC_ALPHABET) + SYNTHETIC_KEYS:
        key = "".join(rng.choice(SYNTHETIC_ALPHABET) for _ in range(rng.randint(2, 8)))
        scores.setdefault(key, rng.random())
    return scores


def synthetic_candidate(length, seed=SEED):
    rng = random.Random(seed * 31 + length)
    return "".join(rng.choice(SYNTHETIC_ALPHABET) for _ in range(length))


def synthetic_workload(length, scores):
    label = f"1e{round(math.log10(length))}" if length == 10 ** round(math.log10(length)) else str(length)
    return Workload(
        f"synthetic-{label}",
        "synthetic",
        f"one candidate of {length} characters over '{SYNTHETIC_ALPHABET}', {SYNTHETIC_KEYS} keys of 2-8 characters",
        {synthetic_candidate(length)},
        set(),
        scores,
        set(SYNTHETIC_ALPHABET),
        {"length": length},
    )


def available(path):
    if os.path.exists(path):
        return True
    package = WORD_LIST_PACKAGES.get(path)
    how = f" (apt-get install {package})" if package else ""
    log(f"skipping {path}: not found{how}")
    return False


def build_workloads(quick):
    """The real-word workloads, in table order, and the synthetic lengths."""
    workloads = []
    if quick:
        english_path, english_name = BUNDLED_WORDS, "bundled"
    elif available(ENGLISH_WORDS):
        english_path, english_name = ENGLISH_WORDS, "english"
    else:
        english_path, english_name = BUNDLED_WORDS, "bundled"
    words = read_words(english_path)
    small = len(words) < 20000
    # Thresholds for a large list; a small list shares less, so they are lower.
    min_shared, min_count = (10, 3) if small else (50, 10)
    log(f"building {english_name} from {english_path} ({len(words)} words)")
    english = word_workload(english_name, f"{os.path.basename(english_path)}", words, min_shared, min_count)
    workloads.append(english)
    workloads.append(
        transliterated(english, f"{english_name}-cyrillic", f"{english.description}, a-z transliterated to Cyrillic")
    )
    compounds = 300 if quick else 20000
    workloads.append(
        compound_workload(
            english, words, f"{english_name}-compounds",
            f"{compounds} compounds of 50-200 characters from {english.description}", compounds,
            100 if quick else 500,
        )
    )
    if not quick and available(GERMAN_WORDS):
        german_words = read_words(GERMAN_WORDS)
        log(f"building german from {GERMAN_WORDS} ({len(german_words)} words)")
        workloads.append(word_workload("german", os.path.basename(GERMAN_WORDS), german_words, 50, 10))
        umlaut_words = [w for w in german_words if any(c in w for c in "äöüß")]
        log(f"building german-umlauts ({len(umlaut_words)} words)")
        workloads.append(
            word_workload(
                "german-umlauts", f"{os.path.basename(GERMAN_WORDS)}, words with ä/ö/ü/ß", umlaut_words, 50, 10
            )
        )
    lengths = [10**2, 10**3, 10**4] if quick else [10**2, 10**3, 10**4, 10**5, 10**6]
    return workloads, lengths


# --------------------------------------------------------------------------- measuring


def log(message):
    print(message, file=sys.stderr, flush=True)


def timed_runs(function, repeats, warmup=1):
    """Seconds of each of `repeats` runs of function() after `warmup` untimed runs."""
    return interleaved_runs([function], repeats, warmup)[0]


def interleaved_runs(functions, repeats, warmup=1):
    """Seconds of `repeats` runs of each function, taking turns, so that every
    function sees the same changes in the load of a shared machine."""
    for _ in range(warmup):
        for function in functions:
            function()
    times = [[] for _ in functions]
    gc_was_enabled = gc.isenabled()
    gc.disable()
    try:
        for _ in range(repeats):
            for function, runs in zip(functions, times):
                start = time.perf_counter()
                function()
                runs.append(time.perf_counter() - start)
    finally:
        if gc_was_enabled:
            gc.enable()
    return times


def floor_function(workload):
    roots, affixes, scores, whitelist = workload.args

    def floor():
        dict(scores)
        {w: 0.5 for w in roots}
        {w: 0.5 for w in affixes}
        set(whitelist)

    return floor


def same_bits(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b)


def same_results(expected, actual):
    return expected.keys() == actual.keys() and all(same_bits(expected[k], actual[k]) for k in expected)


def sample_of(candidates, size, seed=SEED):
    """A deterministic sample of the non-empty members of a candidate set."""
    members = sorted(s for s in candidates if s)
    if len(members) <= size:
        return members
    return sorted(random.Random(seed).sample(members, size))


def reference_estimate(workload, sample_size, repeats, module_result):
    """Time of the pure-Python model for the whole workload, from a sample.

    The model's conversion of the four arguments is timed on the full
    arguments; its per-candidate work is timed on the sample, the root pass
    and the affix pass apart, and each is scaled by the number of candidates
    of its kind (medians of `repeats` runs each).  Returns
    (seconds, verified, details), where verified tells whether the module's
    values on the sample are the model's.
    """
    import morvanex
    import reference_model as model

    converted = {}

    def convert():
        model.string_set(workload.roots)
        model.string_set(workload.affixes)
        converted["table"] = model.score_table(workload.scores)
        converted["allowed"] = set(model.string_set(workload.whitelist))

    conversion = statistics.median(timed_runs(convert, repeats, warmup=0))
    table, allowed = converted["table"], converted["allowed"]

    sample_roots = sample_of(workload.roots, sample_size)
    sample_affixes = sample_of(workload.affixes, max(1, sample_size // 2))
    # The sample's values in the module's order: roots first, an affix
    # candidate's value replacing its root value.
    expected = {}

    def score_pass(candidates, is_affix):
        for candidate in candidates:
            best = model.best_segmentation_score(candidate, table, allowed, is_affix)
            previous = table.get(candidate, 0.0)
            expected[candidate] = model.updated_score(previous, best, len(candidate))

    estimate = conversion
    sampled = 0.0
    passes = {}
    for kind, candidates, population in (
        ("roots", sample_roots, sum(1 for s in workload.roots if s)),
        ("affixes", sample_affixes, sum(1 for s in workload.affixes if s)),
    ):
        seconds = statistics.median(timed_runs(lambda: score_pass(candidates, kind == "affixes"), repeats, 0))
        sampled += seconds
        if candidates:
            estimate += seconds * population / len(candidates)
        passes[kind] = {"sampled": len(candidates), "of": population, "seconds": seconds}
    sampled_calls = len(sample_roots) + len(sample_affixes)
    total_calls = workload.scorer_calls()

    actual = morvanex.run_scoring_iteration(set(sample_roots), set(sample_affixes), workload.scores, workload.whitelist)
    verified = same_results(expected, actual)
    # The timed full call has every candidate, and the sample's values for the
    # sampled strings that are candidates of the same kinds there.
    candidates = {s for s in workload.roots if s} | {s for s in workload.affixes if s}
    verified = verified and module_result.keys() == candidates
    in_roots, in_affixes = set(sample_roots), set(sample_affixes)
    comparable = [
        k for k in expected
        if (k in in_roots) == (k in workload.roots) and (k in in_affixes) == (k in workload.affixes)
    ]
    verified = verified and all(same_bits(module_result[k], expected[k]) for k in comparable)
    details = {
        "conversion_s": conversion,
        "sample_candidates": len(expected),
        "compared_in_full_call": len(comparable),
        "sample_scorer_calls": sampled_calls,
        "sample_s": sampled,
        "scale": total_calls / sampled_calls,
        "passes": passes,
    }
    return estimate, verified, details


def reference_direct(workload, repeats):
    """Median time of the pure-Python model on the whole workload, and its check."""
    import morvanex
    import reference_model as model

    results = []
    times = timed_runs(lambda: results.append(model.run_scoring_iteration(*workload.args)), repeats, warmup=0)
    verified = same_results(results[-1], morvanex.run_scoring_iteration(*workload.args))
    return statistics.median(times), verified


# Memory is measured in a fresh interpreter per workload: the arguments are
# unpickled there (sharing the same string objects as in this process).

MEMORY_PROBE = "--memory-probe"


def proc_status():
    with open("/proc/self/status") as handle:
        text = handle.read()
    return {key: int(re.search(rf"^{key}:\s+(\d+) kB", text, re.M).group(1)) * 1024 for key in ("VmRSS", "VmHWM")}


def release_free_heap():
    gc.collect()
    try:
        ctypes.CDLL("libc.so.6").malloc_trim(0)
    except (OSError, AttributeError):
        pass


def result_size(result):
    """Bytes held by the result dict, its keys and its values."""
    return sys.getsizeof(result) + sum(sys.getsizeof(k) + sys.getsizeof(v) for k, v in result.items())


def memory_probe(path):
    """Runs in the subprocess: prints the memory figures of one call as JSON."""
    import morvanex

    release_free_heap()
    before_args = proc_status()["VmRSS"]
    with open(path, "rb") as handle:
        args = pickle.load(handle)
    release_free_heap()
    before_call = proc_status()["VmRSS"]
    try:
        with open("/proc/self/clear_refs", "w") as handle:
            handle.write("5")  # resets VmHWM to the current RSS
        reset = True
    except OSError:
        reset = False  # VmHWM then also covers the unpickling: an upper bound
    start = proc_status()
    result = morvanex.run_scoring_iteration(*args)
    peak = proc_status()["VmHWM"]
    release_free_heap()
    after_call = proc_status()["VmRSS"]
    held = result_size(result)
    print(json.dumps({
        "arguments_bytes": before_call - before_args,
        "rss_before_call": before_call,
        "hwm_after_reset": start["VmHWM"],
        "peak_bytes": peak,
        "rss_after_call": after_call,
        "result_bytes": held,
        "result_rss_bytes": max(0, after_call - before_call),
        "peak_extra_bytes": max(0, peak - start["VmRSS"] - held),
        "peak_reset": reset,
    }))


def measure_memory(workload, directory):
    path = os.path.join(directory, "args.pickle")
    with open(path, "wb") as handle:
        pickle.dump(workload.args, handle, protocol=pickle.HIGHEST_PROTOCOL)
    try:
        done = subprocess.run(
            [sys.executable, os.path.abspath(__file__), MEMORY_PROBE, path],
            capture_output=True, text=True, timeout=600,
        )
    finally:
        os.remove(path)
    if done.returncode != 0:
        log(f"memory probe failed for {workload.name}:\n{done.stderr}")
        return None
    return json.loads(done.stdout)


# --------------------------------------------------------------------------- the run


def measure(workload, repeats, sample_size, direct_reference, scratch):
    import morvanex

    log(f"{workload.name}: {len(workload.roots)} roots, {len(workload.affixes)} affixes, "
        f"{len(workload.scores)} scores, {len(workload.whitelist)} whitelisted")
    row = {
        "workload": workload.name,
        "kind": workload.kind,
        "description": workload.description,
        "params": workload.params,
        "roots": len(workload.roots),
        "affixes": len(workload.affixes),
        "scores": len(workload.scores),
        "whitelist": len(workload.whitelist),
        "candidates": workload.scorer_calls(),
        "characters": workload.characters(),
    }
    results = []

    def call():
        results.clear()
        results.append(morvanex.run_scoring_iteration(*workload.args))

    times, floor = interleaved_runs([call, floor_function(workload)], repeats)
    row["call_runs_s"] = times
    row["call_s"] = statistics.median(times)
    row["per_candidate_s"] = row["call_s"] / max(1, row["candidates"])

    row["floor_runs_s"] = floor
    row["floor_s"] = statistics.median(floor)
    row["floor_ratio"] = row["call_s"] / row["floor_s"]

    if workload.kind == "real":
        estimate, verified, details = reference_estimate(
            workload, workload.sample_size or sample_size, 3, results[0])
        row["python_s"] = estimate
        row["python_estimated"] = True
        row["python_details"] = details
        row["verified"] = verified
    elif direct_reference:
        seconds, verified = reference_direct(workload, 1 if row["characters"] > 300 else 3)
        row["python_s"] = seconds
        row["python_estimated"] = False
        row["verified"] = verified
    else:
        row["python_s"] = None
        row["verified"] = None
    row["python_ratio"] = row["python_s"] / row["call_s"] if row["python_s"] else None
    results.clear()

    memory = measure_memory(workload, scratch)
    row["memory"] = memory
    if memory:
        row["arguments_bytes"] = memory["arguments_bytes"]
        row["peak_extra_bytes"] = memory["peak_extra_bytes"]
        row["extra_ratio"] = memory["peak_extra_bytes"] / max(1, memory["arguments_bytes"])
    else:
        row["arguments_bytes"] = row["peak_extra_bytes"] = row["extra_ratio"] = None
    log(f"  call {fmt_time(row['call_s'])}, floor x{row['floor_ratio']:.2f}, "
        f"python x{row['python_ratio'] or float('nan'):.0f}, verified {row['verified']}")
    return row


def reference_curve(lengths, scores):
    """Seconds of the literal model on one synthetic candidate of each length."""
    import reference_model as model

    whitelist = set(SYNTHETIC_ALPHABET)
    curve = []
    for length in lengths:
        candidate = synthetic_candidate(length)
        repeats = 3 if length <= 300 else 1
        times = timed_runs(lambda: model.run_scoring_iteration({candidate}, set(), scores, whitelist), repeats, 0)
        curve.append({"length": length, "seconds": statistics.median(times)})
        log(f"  reference model, {length} characters: {fmt_time(curve[-1]['seconds'])}")
    return curve


def module_curve(lengths, scores, repeats):
    import morvanex

    whitelist = set(SYNTHETIC_ALPHABET)
    curve = []
    for length in lengths:
        roots = {synthetic_candidate(length)}
        times = timed_runs(lambda: morvanex.run_scoring_iteration(roots, set(), scores, whitelist), repeats)
        curve.append({"length": length, "seconds": statistics.median(times)})
    return curve


def loglog_slope(points):
    xs = [math.log(x) for x, _ in points]
    ys = [math.log(y) for _, y in points]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)


def evaluate_targets(rows, fixed_call_s):
    """Marks for the table and the list of targets with their verdicts."""
    real = [r for r in rows if r["kind"] == "real"]
    synthetic = [r for r in rows if r["kind"] == "synthetic"]
    for r in rows:
        r["marks"] = {}
        if r["kind"] == "real":
            if r["python_ratio"] is not None:
                r["marks"]["python"] = r["python_ratio"] >= PYTHON_SPEEDUP_TARGET
            r["marks"]["floor"] = r["floor_ratio"] <= FLOOR_RATIO_TARGET
        if r.get("extra_ratio") is not None:
            r["marks"]["memory"] = r["extra_ratio"] <= MEMORY_RATIO_TARGET
    targets = []
    targets.append({
        "target": f"at least {PYTHON_SPEEDUP_TARGET:.0f}x faster than the pure-Python model on the real-word workloads",
        "met": all(r["marks"].get("python", False) for r in real),
        "detail": ", ".join(f"{r['workload']} {r['python_ratio']:.0f}x" for r in real if r["python_ratio"]),
    })
    targets.append({
        "target": f"at most {FLOOR_RATIO_TARGET:.0f}x the floor on every real-word workload",
        "met": all(r["marks"]["floor"] for r in real),
        "detail": ", ".join(f"{r['workload']} {r['floor_ratio']:.2f}x" for r in real),
    })
    # Linearity: the time a call spends on the candidate (its time less that
    # of a call with a one-character candidate and the same scores) against
    # the candidate's length.
    marginal = [(r["params"]["length"], r["call_s"] - fixed_call_s) for r in synthetic]
    usable = [(n, t) for n, t in marginal if n >= 10**4 and t > 0]
    if len(usable) < 2:  # a quick run stops at 10^4 characters: use the two longest
        usable = [(n, t) for n, t in marginal[-2:] if t > 0]
    if len(usable) >= 2:
        slope = loglog_slope(usable)
        shortest, longest = synthetic[0], synthetic[-1]
        raw = longest["call_s"] / shortest["call_s"]
        length_ratio = longest["params"]["length"] / shortest["params"]["length"]
        targets.append({
            "target": f"time linear in candidate length (log-log slope <= {LINEAR_SLOPE_TARGET} over the longest candidates)",
            "met": slope <= LINEAR_SLOPE_TARGET,
            "slope": slope,
            "detail": (
                f"slope {slope:.3f} over {', '.join(str(n) for n, _ in usable)} characters "
                f"(time less the {fmt_time(fixed_call_s)} of a one-character call); "
                f"raw time ratio {longest['params']['length']}/{shortest['params']['length']} characters: "
                f"{raw:.0f}x for {length_ratio:.0f}x the length"
            ),
        })
    for kind, title in (("real", "real-word"), ("synthetic", "synthetic")):
        with_memory = [r for r in rows if r["kind"] == kind and r.get("extra_ratio") is not None]
        if not with_memory:
            continue
        targets.append({
            "target": f"peak extra memory at most {MEMORY_RATIO_TARGET} of the arguments' memory, {title} workloads",
            "met": all(r["marks"]["memory"] for r in with_memory),
            "detail": ", ".join(
                f"{r['workload']} {r['extra_ratio']:.3g} ({fmt_mib(r['peak_extra_bytes'])} "
                f"/ {fmt_mib(r['arguments_bytes'])})" for r in with_memory),
        })
    return targets


# --------------------------------------------------------------------------- output


def fmt_time(seconds):
    if seconds is None:
        return "—"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def fmt_mib(value):
    return "—" if value is None else f"{value / MIB:.1f} MiB"


def mark(row, key):
    if key not in row["marks"]:
        return ""
    return " ✓" if row["marks"][key] else " ✗"


def markdown_table(rows):
    lines = [
        "| workload | candidates | characters | call (median) | per candidate | vs pure Python¹ "
        "| vs floor² | peak extra³ | arguments | extra / arguments |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for r in rows:
        if r["python_ratio"] is None:
            python = "—"
        else:
            python = f"{r['python_ratio']:,.0f}× faster{'*' if r.get('python_estimated') else ''}{mark(r, 'python')}"
        extra = "—" if r.get("extra_ratio") is None else f"{r['extra_ratio']:.3g}{mark(r, 'memory')}"
        lines.append(
            f"| {r['workload']} | {r['candidates']:,} | {r['characters']:,} | {fmt_time(r['call_s'])} "
            f"| {fmt_time(r['per_candidate_s'])} | {python} | {r['floor_ratio']:.2f}×{mark(r, 'floor')} "
            f"| {fmt_mib(r.get('peak_extra_bytes'))} | {fmt_mib(r.get('arguments_bytes'))} | {extra} |"
        )
    return "\n".join(lines)


def footnotes(report):
    sizes = collections.defaultdict(list)
    for r in report["rows"]:
        if r.get("python_details"):
            passes = r["python_details"]["passes"]
            sizes[(passes["roots"]["sampled"], passes["affixes"]["sampled"])].append(r["workload"])
    sample = "; ".join(f"{roots} roots and {affixes} affixes for {', '.join(names)}"
                       for (roots, affixes), names in sizes.items())
    return "\n".join([
        f"¹ Pure Python = `tests/reference_model.py`. Real-word rows (*): its conversion of the four "
        f"arguments timed on the full arguments, plus its per-candidate work timed on a deterministic sample "
        f"of candidates ({sample}), each kind scaled linearly to all its candidates (medians of 3 runs each). "
        f"Synthetic rows: the model run on the whole call (only where it finishes in a few seconds; it is cubic in the candidate length). "
        f"The module's values equal the model's bit for bit on every sampled candidate: "
        f"verified = {str(report['verified']).lower()}.",
        "² Floor = `dict(scores)` + `{w: 0.5 for w in roots}` + `{w: 0.5 for w in affixes}` + "
        "`set(whitelist)` with CPython builtins over the same arguments; its runs take turns with the "
        "module's, median of as many.",
        "³ In a fresh interpreter per workload: arguments = RSS growth from unpickling the four arguments; "
        "peak extra = VmHWM during the call (reset through /proc/self/clear_refs) − RSS before the call − "
        "the result's size (sys.getsizeof of the dict, its keys and its values), clamped at 0.",
        f"Marks: ✓/✗ against the targets (≥{PYTHON_SPEEDUP_TARGET:.0f}× pure Python and ≤{FLOOR_RATIO_TARGET:.0f}× "
        f"the floor on real words, extra/arguments ≤ {MEMORY_RATIO_TARGET}).",
    ])


def targets_text(targets):
    return "\n".join(f"- {'✓' if t['met'] else '✗'} {t['target']}: {t['detail']}" for t in targets)


def repository_revision():
    """The checked-out commit of this repository, or None outside a git work tree."""
    try:
        done = subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"],
                              capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return None
    return done.stdout.strip() if done.returncode == 0 else None


def write_markdown(path, report):
    s = report["settings"]
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(
            "# morvanex call benchmark\n\n"
            f"`python benchmarks/bench_calls.py{' --quick' if s['quick'] else ''}` — "
            f"{report['generated']}, repository at {report['revision'] or 'an unknown revision'}, "
            f"Python {report['python']}, {report['cpus']} CPUs, "
            f"{s['repeats']} timed runs per workload (medians), run time {report['run_seconds']:.0f} s.\n\n"
            f"{report['table_markdown']}\n\n{footnotes(report)}\n\n## Targets\n\n{targets_text(report['targets'])}\n\n"
            "## Workloads\n\n"
            + "\n".join(f"- {r['workload']}: {r['description']}; {r['roots']:,} roots, {r['affixes']:,} affixes, "
                        f"{r['scores']:,} scores, {r['whitelist']} whitelisted" for r in report["rows"])
            + "\n"
        )


def write_plot(path, report):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        log("matplotlib is not installed (pip install matplotlib): no plot")
        return False
    figure, (left, right) = plt.subplots(1, 2, figsize=(13, 5.2))
    module = report["module_curve"]
    reference = report["reference_curve"]
    left.loglog([p["length"] for p in module], [p["seconds"] for p in module], "o-", label="morvanex")
    fixed = report["fixed_call_s"]
    marginal = [(p["length"], p["seconds"] - fixed) for p in module if p["seconds"] > fixed]
    left.loglog([n for n, _ in marginal], [t for _, t in marginal], "o--", color="tab:blue", alpha=0.45,
                markersize=4, label=f"morvanex less a one-character call ({fmt_time(fixed)})")
    if reference:
        left.loglog([p["length"] for p in reference], [p["seconds"] for p in reference], "s-",
                    label="pure-Python model (literal algorithm)")
    # Guides through the module's longest point: slope 1 (linear).
    last = module[-1]
    xs = [module[0]["length"], last["length"]]
    left.loglog(xs, [last["seconds"] * x / last["length"] for x in xs], ":", color="grey", label="linear")
    if reference:
        r_last = reference[-1]
        xs = [reference[0]["length"], r_last["length"]]
        left.loglog(xs, [r_last["seconds"] * (x / r_last["length"]) ** 3 for x in xs], "--", color="grey",
                    alpha=0.6, label="cubic")
    left.set_xlabel("candidate length (characters)")
    left.set_ylabel("seconds per call (median)")
    left.set_title(f"One candidate, {SYNTHETIC_KEYS} keys of 2-8 letters, alphabet '{SYNTHETIC_ALPHABET}'")
    left.grid(True, which="both", alpha=0.3)
    left.legend(fontsize="small")

    rows = report["rows"]
    colours = ["tab:blue" if r["kind"] == "real" else "tab:grey" for r in rows]
    right.bar(range(len(rows)), [r["floor_ratio"] for r in rows], color=colours)
    right.axhline(FLOOR_RATIO_TARGET, color="tab:red", linestyle="--", label=f"target {FLOOR_RATIO_TARGET:.0f}×")
    right.set_yscale("log")
    right.set_xticks(range(len(rows)))
    right.set_xticklabels([r["workload"] for r in rows], rotation=35, ha="right")
    right.set_ylabel("call time / floor time")
    right.set_title("Ratio to the floor (blue: real words, grey: synthetic)")
    right.grid(True, axis="y", which="both", alpha=0.3)
    right.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return True


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="bundled word list, short candidates, few runs (under a minute)")
    parser.add_argument("--out", metavar="DIR",
                        help="directory for bench_calls.json, results.md and bench_calls.png "
                             "(default: benchmarks/results/ for the JSON, benchmarks/ for the others; "
                             "all under benchmarks/results/ with --quick)")
    parser.add_argument(MEMORY_PROBE, metavar="PICKLE", help=argparse.SUPPRESS)
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    if args.memory_probe:
        memory_probe(args.memory_probe)
        return 0
    try:
        import morvanex
    except ImportError:
        log("morvanex is not installed in this interpreter: python -m pip install . (from the repository)")
        return 1

    began = time.perf_counter()
    results_dir = os.path.join(HERE, "results")
    if args.out:
        json_dir = md_dir = plot_dir = args.out
    elif args.quick:
        json_dir = md_dir = plot_dir = results_dir
    else:
        json_dir, md_dir, plot_dir = results_dir, HERE, HERE
    for directory in {json_dir, md_dir, plot_dir}:
        os.makedirs(directory, exist_ok=True)

    repeats = 3 if args.quick else 7
    sample = 500 if args.quick else 2000
    workloads, lengths = build_workloads(args.quick)
    synthetic_scores = synthetic_keys()
    reference_lengths = [100, 316, 1000] if args.quick else [100, 316, 1000, 3162]

    rows = []
    with tempfile.TemporaryDirectory(prefix="bench_calls-") as scratch:
        for workload in workloads:
            rows.append(measure(workload, repeats, sample, False, scratch))
        del workloads
        gc.collect()
        for length in lengths:
            workload = synthetic_workload(length, synthetic_scores)
            rows.append(measure(workload, repeats, sample, length <= 1000, scratch))

    one_char = {"a"}
    whitelist = set(SYNTHETIC_ALPHABET)
    fixed = statistics.median(
        timed_runs(lambda: morvanex.run_scoring_iteration(one_char, set(), synthetic_scores, whitelist), 15)
    )
    log("literal algorithm against candidate length:")
    curve_lengths = sorted(set(lengths) | {316, 3162, 31623, 316228} if not args.quick else set(lengths) | {316, 3162})
    report = {
        "generated": datetime.datetime.now().isoformat(timespec="seconds"),
        "python": platform.python_version(),
        "platform": platform.platform(),
        "cpus": os.cpu_count(),
        "revision": repository_revision(),
        "module": morvanex.__file__,
        "settings": {"quick": args.quick, "repeats": repeats, "sample": sample, "seed": SEED},
        "workloads": [r["workload"] for r in rows],
        "rows": rows,
        "fixed_call_s": fixed,
        "reference_curve": reference_curve(reference_lengths, synthetic_scores),
        "module_curve": module_curve(curve_lengths, synthetic_scores, repeats),
    }
    checked = [r["verified"] for r in rows if r["verified"] is not None]
    report["verified"] = bool(checked) and all(checked)
    report["targets"] = evaluate_targets(rows, fixed)
    report["table_markdown"] = markdown_table(rows)
    report["run_seconds"] = time.perf_counter() - began

    json_path = os.path.join(json_dir, "bench_calls.json")
    with open(json_path, "w", encoding="utf-8") as handle:
        json.dump(report, handle, indent=1, ensure_ascii=False)
    md_path = os.path.join(md_dir, "results.md")
    write_markdown(md_path, report)
    plot_path = os.path.join(plot_dir, "bench_calls.png")
    plotted = write_plot(plot_path, report)

    print(report["table_markdown"])
    print()
    print(footnotes(report))
    print()
    print(targets_text(report["targets"]))
    print()
    print(f"wrote {json_path}, {md_path}{', ' + plot_path if plotted else ''} in {report['run_seconds']:.0f} s")
    return 0 if report["verified"] else 3


if __name__ == "__main__":
    sys.exit(main())
