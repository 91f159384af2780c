#!/usr/bin/env python3
"""Appends to bench/results.md the whole search against the bare reader pass,
the median of each stage's runs, and writes the data file of search.gp."""

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
             'search again, which also releases the first result. Peak memory is the '
             'process\'s resident peak against the reply\'s size. The longest pause is the '
             'longest the window went without taking an event during the search.', '',
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
            lines.append('| %d | %.1f | %.3f | %.3f | **%.2f** | %.1f | %.0f | **%.2f** | %.1f | %.3f | %.2f | %.3f |' % (
                n, reply / 1e6, floor, search, search / floor, bound, peak / 1e6, peak / reply,
                MEMORY_BOUND, second, second / floor, pause))
            dat.write('%d %.4f %.4f %.4f %.2f\n' % (n, search / floor, second / floor, peak / reply, bound))
    lines += ['', 'Each run, in seconds (pass / search / second search):', '']
    for n in sizes:
        triples = zip(runs[('floor', n)], runs[('search', n)], runs[('research', n)])
        lines.append('- %d events: %s' % (n, '; '.join(
            '%.3f / %.3f / %.3f' % (float(f['seconds']), float(s['seconds']), float(r['seconds']))
            for f, s, r in triples)))
    with open(out_md, 'a') as md:
        md.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main(*sys.argv[1:4])
