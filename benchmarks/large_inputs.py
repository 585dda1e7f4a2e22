"""The largest inputs: how long they take and how much memory they need.

    python benchmarks/large_inputs.py            # every case, each in its own process
    python benchmarks/large_inputs.py --case NAME

Every case runs single-threaded (MORVANEX_NUM_THREADS unset) and with parallel
scoring (MORVANEX_NUM_THREADS=0), each in its own process.

Cases:
  long-candidate     one candidate of 1,000,000 characters (as a root and as an
                     affix) over 64 characters of one to four UTF-8 bytes, every
                     character whitelisted and scored, every pair scored
  many-candidates    1,000,000 root candidates and 100,000 affix candidates
                     over 200,000 scored pieces

For each case it prints the time to build the arguments, the time of the call
and the peak resident memory of its process before and during the call. These
are figures to read, not limits.
"""

import argparse
import gc
import os
import random
import resource
import subprocess
import sys
import time

import morvanex

ALPHABET = [chr(c) for c in range(0x61, 0x61 + 26)]  # one byte
ALPHABET += [chr(c) for c in range(0x3B1, 0x3B1 + 16)]  # two bytes (Greek)
ALPHABET += [chr(c) for c in range(0x4E00, 0x4E00 + 16)]  # three bytes (CJK)
ALPHABET += [chr(c) for c in range(0x1F600, 0x1F600 + 6)]  # four bytes (emoji)


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024  # ru_maxrss is in KiB on Linux


def long_candidate():
    rng = random.Random(1)
    candidate = "".join(rng.choices(ALPHABET, k=1_000_000))
    scores = {c: rng.uniform(0.0, 1.0) for c in ALPHABET}
    scores.update({a + b: rng.uniform(0.0, 2.0) for a in ALPHABET for b in ALPHABET})
    whitelist = set(ALPHABET)
    return {candidate}, {candidate}, scores, whitelist


def many_candidates():
    rng = random.Random(2)
    letters = ALPHABET[:26]

    def words(count, low, high):
        return {"".join(rng.choices(letters, k=rng.randint(low, high))) for _ in range(count)}

    roots = set()
    while len(roots) < 1_000_000:
        roots |= words(1_000_000 - len(roots), 4, 14)
    affixes = set()
    while len(affixes) < 100_000:
        affixes |= words(100_000 - len(affixes), 2, 6)
    scores = {}
    while len(scores) < 200_000:
        scores.update((word, rng.uniform(-0.5, 3.0)) for word in words(200_000 - len(scores), 1, 5))
    whitelist = set(letters)
    return roots, affixes, scores, whitelist


CASES = {"long-candidate": long_candidate, "many-candidates": many_candidates}


def run_case(name):
    started = time.perf_counter()
    roots, affixes, scores, whitelist = CASES[name]()
    built = time.perf_counter() - started
    gc.collect()
    rss_before = peak_rss_mib()
    started = time.perf_counter()
    result = morvanex.run_scoring_iteration(roots, affixes, scores, whitelist)
    elapsed = time.perf_counter() - started
    rss_during = peak_rss_mib()
    expected_keys = len((roots | affixes) - {""})
    assert len(result) == expected_keys and all(type(v) is float for v in result.values())
    longest = max(len(word) for word in roots | affixes)
    threads = os.environ.get("MORVANEX_NUM_THREADS")
    setting = "MORVANEX_NUM_THREADS=" + threads if threads else "single-threaded"
    print(
        f"{name}, {setting}: {len(roots):,} roots, {len(affixes):,} affixes, {len(scores):,} scores, "
        f"longest candidate {longest:,} characters\n"
        f"  arguments built in {built:.2f} s; call {elapsed:.3f} s; {len(result):,} results\n"
        f"  peak resident memory {rss_before:.0f} MiB before the call, {rss_during:.0f} MiB by its end"
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--case", choices=sorted(CASES))
    options = parser.parse_args()
    if options.case:
        run_case(options.case)
        return
    single = {key: value for key, value in os.environ.items() if key != "MORVANEX_NUM_THREADS"}
    for name in CASES:
        for env in (single, dict(single, MORVANEX_NUM_THREADS="0")):
            subprocess.run([sys.executable, __file__, "--case", name], check=True, env=env)


if __name__ == "__main__":
    main()
