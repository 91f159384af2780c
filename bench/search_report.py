#!/usr/bin/env python3
"""Writes into bench/results.md the whole search against the bare reader pass
and the data file of search.gp. Each run pairs a pass and a search made one
after the other, so the ratios are taken run by run and their median shown:
on a machine whose speed drifts, that is steadier than a ratio of medians."""

import statistics
import sys

BOUNDS = {10000: 1.2, 100000: 1.3, 250000: 1.3}
MEMORY_BOUND = 3.0


def parse(path):
    runs = {}
    for line in open(path):
        fields = dict(part.split('=', 1) for part in line.split())
        key = (fields['stage'], int(fields['events']))
        runs.setdefault(key, []).append(fields)
    return runs


def median(runs, key, field):
    return statistics.median(float(r[field]) for r in runs[key])


def main(raw, out_md, out_dat):
    runs = parse(raw)
    sizes = sorted({n for _, n in runs})
    lines = ['', '## The whole search against the bare reader pass', '',
             'Medians of three runs, each stage in a process of its own, in turn: a bare '
             '`QXmlStreamReader` pass over the decoded reply (the floor); a search from the '
             'window, click to the tree, map and plots painted, over loopback HTTP; and the same '
             'search again, which also releases the first result. The ratios are the median of '
             'the three runs\' ratios (each run\'s pass and searches ran one after the other); '
             'the times are medians. Peak memory is the process\'s resident peak against the '
             'reply\'s size. The longest pause is the longest the window went without taking an '
             'event during the search.', '',
             '| events | reply (MB) | bare pass (s) | search (s) | search / pass | bound | '
             'peak (MB) | peak / reply | bound | second search (s) | second / pass | '
             'longest pause (s) |',
             '|---|---|---|---|---|---|---|---|---|---|---|---|']
    with open(out_dat, 'w') as dat:
        dat.write('# events search/pass second/pass peak/reply bound\n')
        for n in sizes:
            reply = float(runs[('search', n)][0]['bytes'])
            floor = median(runs, ('floor', n), 'seconds')
            search = median(runs, ('search', n), 'seconds')
            second = median(runs, ('research', n), 'seconds')
            peak = median(runs, ('search', n), 'peak_kib') * 1024
            pause = median(runs, ('search', n), 'longest_pause')
            bound = BOUNDS.get(n, 1.3)
            ratio = statistics.median(float(s_['seconds']) / float(f['seconds'])
                                      for f, s_ in zip(runs[('floor', n)], runs[('search', n)]))
            second_ratio = statistics.median(float(r['seconds']) / float(f['seconds'])
                                             for f, r in zip(runs[('floor', n)], runs[('research', n)]))
            lines.append('| %d | %.1f | %.3f | %.3f | **%.2f** | %.1f | %.0f | **%.2f** | %.1f | %.3f | %.2f | %.3f |' % (
                n, reply / 1e6, floor, search, ratio, bound, peak / 1e6, peak / reply,
                MEMORY_BOUND, second, second_ratio, pause))
            dat.write('%d %.4f %.4f %.4f %.2f\n' % (n, ratio, second_ratio, peak / reply, bound))
    lines += ['', 'Each run, in seconds (pass / search / second search):', '']
    for n in sizes:
        triples = zip(runs[('floor', n)], runs[('search', n)], runs[('research', n)])
        lines.append('- %d events: %s' % (n, '; '.join(
            '%.3f / %.3f / %.3f' % (float(f['seconds']), float(s['seconds']), float(r['seconds']))
            for f, s, r in triples)))
    # In place of an earlier run's section, or at the end.
    text = open(out_md).read()
    title = lines[1]
    start = text.find(title)
    if start < 0:
        text = text.rstrip('\n') + '\n' + '\n'.join(lines) + '\n'
    else:
        end = text.find('\n## ', start + len(title))
        rest = text[end + 1:] if end >= 0 else ''
        text = text[:start] + '\n'.join(lines[1:]) + '\n\n' + rest
    open(out_md, 'w').write(text)


if __name__ == '__main__':
    main(*sys.argv[1:4])
