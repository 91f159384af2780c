#!/usr/bin/env python3
"""Times, in a copy of the catalogue file, three ways a search of a region
can go: the time index scanned in order with each row tested; the index by
degree cell and time that the gateway keeps (event_by_cell), its rows
sorted; and an R*Tree of latitude, longitude and day, built here for the
comparison, its rows sorted. Prints how long filling the R*Tree took, then
one line per search: the rows and the median milliseconds of each way over
seven runs.

    region_plans.py CATALOGUE START_US END_US NAME:SOUTH,NORTH,WEST,EAST ..."""
import math
import shutil
import sqlite3
import statistics
import sys
import tempfile
import time

path, start, end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
copy = tempfile.NamedTemporaryFile(suffix=".sqlite", delete=False).name
shutil.copyfile(path, copy)
db = sqlite3.connect(copy)
began = time.perf_counter()
db.execute("CREATE VIRTUAL TABLE event_place USING rtree(id, min_latitude, max_latitude, min_longitude,"
           " max_longitude, min_day, max_day)")
db.execute("INSERT INTO event_place SELECT rowid, latitude, latitude, longitude, longitude,"
           " origin_time / 86400e6, origin_time / 86400e6 FROM event WHERE latitude IS NOT NULL")
db.commit()
print("rtree_fill_seconds=%.1f" % (time.perf_counter() - began))

columns = "public_id, origin_time, latitude, longitude, depth, magnitude"
exact = ("origin_time >= ? AND origin_time < ? AND latitude >= ? AND latitude <= ? AND longitude >= ?"
         " AND longitude <= ?")
order = " ORDER BY origin_time, magnitude, rowid"
cell = "(CAST(latitude + 90 AS INTEGER) * 361 + CAST(longitude + 180 AS INTEGER))"


def median_ms(sql, values):
    times, rows = [], 0
    for _ in range(7):
        began = time.perf_counter()
        rows = len(db.execute(sql, values).fetchall())
        times.append((time.perf_counter() - began) * 1000)
    return statistics.median(times), rows


for search in sys.argv[4:]:
    name, bounds = search.split(":")
    south, north, west, east = (float(v) for v in bounds.split(","))
    box = (south, north, west, east)
    cells = ",".join(str(r * 361 + c) for r in range(math.floor(south + 90), math.floor(north + 90) + 1)
                     for c in range(math.floor(west + 180), math.floor(east + 180) + 1))
    by_time, rows = median_ms("SELECT %s FROM event INDEXED BY event_by_time WHERE %s%s" % (columns, exact, order),
                              (start, end) + box)
    by_cell, in_cells = median_ms("SELECT %s FROM event INDEXED BY event_by_cell WHERE %s AND %s IN (%s)%s"
                                  % (columns, exact, cell, cells, order), (start, end) + box)
    by_rtree, in_rtree = median_ms(
        "SELECT %s FROM event NOT INDEXED WHERE %s AND rowid IN (SELECT id FROM event_place WHERE max_latitude >= ?"
        " AND min_latitude <= ? AND max_longitude >= ? AND min_longitude <= ? AND max_day >= ? AND min_day <= ?)%s"
        % (columns, exact, order), (start, end) + box + box + (start / 86400e6, end / 86400e6))
    assert rows == in_cells == in_rtree, (name, rows, in_cells, in_rtree)
    print("%s events=%d time_ms=%.1f cell_ms=%.1f rtree_ms=%.1f" % (name, rows, by_time, by_cell, by_rtree))
db.close()
shutil.os.remove(copy)
