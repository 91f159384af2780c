#!/usr/bin/env python3
"""Writes N events in the FDSN event text format, one a minute-and-a-bit
apart, ending yesterday (UTC), so that Harvix's "Show Last Decade" holds
them all. Two events in five have a magnitude of 3 or more, so that
"Show >= Mag 3" holds 40% of them.

    make_fdsn_text.py N FILE"""
import datetime
import random
import sys

count, path = int(sys.argv[1]), sys.argv[2]
end = datetime.datetime.combine(datetime.date.today() - datetime.timedelta(days=1), datetime.time())
step = datetime.timedelta(days=3000) / count
random.seed(1234)
with open(path, "w") as out:
    out.write("#EventID | Time | Latitude | Longitude | Depth/km | Author | Catalog | Contributor"
              " | ContributorID | MagType | Magnitude | MagAuthor | EventLocationName | EventType\n")
    for i in range(count):
        t = end - step * (count - i)
        magnitude = random.uniform(3, 7) if i % 5 < 2 else random.uniform(-0.5, 2.99)
        out.write("bench%07d|%s|%.4f|%.4f|%.1f|||||MLv|%.2f|||earthquake\n" % (
            i, t.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z", random.uniform(-48, -34),
            random.uniform(165, 179), random.uniform(0, 300), magnitude))
