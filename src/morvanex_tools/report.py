"""What `morvanex train` reports at the end: the units of the vocabulary by length, and sample covers."""

import collections
import heapq
import itertools
import operator
import random


def top_units(own, used, scores, count):
    """The `count` texts of `own` that most best covers use, ties by higher score, then by text."""
    # Keys built and compared in C: a key function per text costs seconds on lists of millions.
    keys = zip(map(operator.neg, map(used.get, own, itertools.repeat(0))), map(operator.neg, map(scores.get, own)),
               own)
    return [(text, -uses) for uses, _, text in heapq.nsmallest(count, keys)]


def print_findings(args, words, trained, table, extra, sampled):
    """The candidates that are their own best cover, by length, and sample covers."""
    scores, kept, used = trained.scores, trained.kept, trained.used
    print(f"\nOwn best cover, by length (kept of all; the {args.top} used by most of {sampled} words' best "
          f"covers first,\nwith that number; ties by score; how to read a score: morvanex train --help):")
    groups = {"roots": trained.roots, "affixes": trained.affixes}
    # The roots are the words: a list walks its strings in the order they were made, several times faster than a set.
    sizes = {"roots": collections.Counter(map(len, words)), "affixes": collections.Counter(map(len, trained.affixes))}
    own = {kind: collections.defaultdict(list) for kind in groups}
    for kind, group in groups.items():
        for text in group & kept:
            own[kind][len(text)].append(text)
    none_kept = collections.Counter()
    all_kept = collections.defaultdict(list)
    for length in sorted(set(sizes["roots"]) | set(sizes["affixes"])):
        for kind in groups:
            size, own_of_length = sizes[kind][length], own[kind][length]
            if not size:
                continue
            if not own_of_length:
                none_kept[kind] += size
            elif len(own_of_length) == size:
                all_kept[kind].append(str(length))
            else:
                listed = " ".join(f"{text}({uses})" for text, uses in top_units(own_of_length, used, scores, args.top))
                print(f"{length:4d} {kind:<8} {len(own_of_length):6d} of {size:<6d} {listed}")
    if all_kept:
        print("   all their own best cover, not listed: " +
              "; ".join(f"{kind} of length {', '.join(lengths)}" for kind, lengths in all_kept.items()))
    if none_kept:
        print("   no other candidate is: " + ", ".join(f"{count} {kind}" for kind, count in none_kept.items()))

    samples = random.Random(args.seed).sample(sorted(words), min(args.samples, len(words)))
    print_covers("\nBest covers as a root under the final scores (N: the cover's value):",
                 samples + extra, scores, table)


def print_covers(title, shown, scores, table):
    """The best cover of each word of `shown` under `table` (the ScoreTable of `scores`), and how it compares
    with the word's own score."""
    if not shown:
        return
    print(title)
    covers = table.best_covers(shown)
    word_width = max(map(len, shown))
    cover_width = max(len(" + ".join(pieces)) for pieces, _ in covers)
    for word, (pieces, value) in zip(shown, covers):
        own = scores.get(word, 0.0)
        if not pieces:
            how = "no cover"
        elif word not in scores:
            how = f"not scored: N = {value:.4g}"
        elif value > own:
            how = f"explained: N = {value:.4g} beats its score {own:.4g}"
        else:
            how = f"its own best cover (score {own:.4g})"
        print(f"  {word:<{word_width}}  {' + '.join(pieces) or '-':<{cover_width}}  {how}")
