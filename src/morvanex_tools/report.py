"""What `morvanex train` reports at the end: the units of the vocabulary by length, and sample covers."""

import collections
import random

from morvanex_tools.covers import best_covers


def by_length(candidates, rank):
    """{length: candidates of that length sorted by `rank` (a key function)}, lengths ascending."""
    groups = collections.defaultdict(list)
    for text in candidates:
        groups[len(text)].append(text)
    return {length: sorted(groups[length], key=rank) for length in sorted(groups)}


def print_findings(args, words, trained, whitelist, extra, sampled):
    """The candidates that are their own best cover, by length, and sample covers."""
    scores, kept, used = trained.scores, trained.kept, trained.used
    print(f"\nOwn best cover, by length (kept of all; the {args.top} used by most of {sampled} words' best "
          f"covers first,\nwith that number; ties by score; how to read a score: morvanex train --help):")
    groups = {"roots": by_length(set(words), lambda text: (-used[text], -scores[text], text)),
              "affixes": by_length(trained.affixes, lambda text: (-used[text], -scores[text], text))}
    none_kept = collections.Counter()
    all_kept = collections.defaultdict(list)
    for length in sorted(set(groups["roots"]) | set(groups["affixes"])):
        for kind, group in groups.items():
            if length not in group:
                continue
            own = [text for text in group[length] if text in kept]
            if not own:
                none_kept[kind] += len(group[length])
            elif len(own) == len(group[length]):
                all_kept[kind].append(str(length))
            else:
                listed = " ".join(f"{text}({used[text]})" for text in own[: args.top])
                print(f"{length:4d} {kind:<8} {len(own):6d} of {len(group[length]):<6d} {listed}")
    if all_kept:
        print("   all their own best cover, not listed: " +
              "; ".join(f"{kind} of length {', '.join(lengths)}" for kind, lengths in all_kept.items()))
    if none_kept:
        print("   no other candidate is: " + ", ".join(f"{count} {kind}" for kind, count in none_kept.items()))

    samples = random.Random(args.seed).sample(sorted(words), min(args.samples, len(words)))
    print_covers("\nBest covers as a root under the final scores (N: the cover's value):",
                 samples + extra, scores, whitelist)


def print_covers(title, shown, scores, whitelist):
    """The best cover of each word of `shown`, and how it compares with the word's own score."""
    if not shown:
        return
    print(title)
    covers = best_covers(shown, scores, whitelist)
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
