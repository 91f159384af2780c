#!/usr/bin/env python3
"""The same work as Harvix's reading of a reply into its event store, done
with xml.etree.ElementTree.iterparse, for comparison. Prints the seconds it
took and the number of events."""

import sys
import time
import xml.etree.ElementTree as ET
from datetime import datetime, timezone


def local_name(tag):
    return tag.rsplit('}', 1)[-1]


def child(element, name):
    for c in element:
        if local_name(c.tag) == name:
            return c
    return None


def value_text(element, name):
    quantity = child(element, name)
    value = child(quantity, 'value') if quantity is not None else None
    return (value.text or '') if value is not None else ''


def number(text):
    try:
        return float(text)
    except ValueError:
        return 0.0


def local_time(text):
    try:
        utc = datetime.strptime(text, '%Y-%m-%dT%H:%M:%S').replace(tzinfo=timezone.utc)
    except ValueError:
        return text
    return utc.astimezone().strftime('%a, %d %B %Y at %H:%M:%S')


def reference_id(public_id):
    cut = public_id.rfind('g/')
    return public_id[:cut].rsplit('/', 1)[-1] if cut >= 0 else ''


def read_store(path):
    store = {}
    depth = 0
    parameters_depth = None
    for event, element in ET.iterparse(path, events=('start', 'end')):
        if event == 'start':
            depth += 1
            if parameters_depth is None and local_name(element.tag) == 'eventParameters':
                parameters_depth = depth
            continue
        depth -= 1
        if parameters_depth is not None and depth < parameters_depth:
            parameters_depth = None
        if parameters_depth is None or depth != parameters_depth or local_name(element.tag) != 'event':
            continue
        fields = {}
        identifier = ''
        for part in element:
            name = local_name(part.tag)
            if name == 'origin':
                ref = reference_id(part.get('publicID', ''))
                time_text = value_text(part, 'time')
                identifier = '[%s] %s' % (ref, local_time(time_text))
                mode = child(part, 'evaluationMode')
                status = child(part, 'evaluationStatus')
                fields.update({
                    'Focal Depth:': '%.3f km' % number(value_text(part, 'depth')),
                    'Latitude:': '%.3f \xb0' % number(value_text(part, 'latitude')),
                    'Longitude:': '%.3f \xb0' % number(value_text(part, 'longitude')),
                    'Origin evaluation mode:': (mode.text or '') if mode is not None else '',
                    'Origin evaluation status:': (status.text or '') if status is not None else '',
                    'Reference ID:': ref,
                    'Universal Time:': time_text,
                })
            elif name == 'magnitude':
                count = child(part, 'stationCount')
                try:
                    stations = int(count.text) if count is not None else 0
                except (TypeError, ValueError):
                    stations = 0
                fields['Richter Magnitude:'] = '%.3f ' % number(value_text(part, 'mag'))
                fields['Station Count (Magnitude):'] = str(stations)
        store[identifier] = fields
        element.clear()
    return store


if __name__ == '__main__':
    start = time.perf_counter()
    events = len(read_store(sys.argv[1]))
    print('seconds=%.6f events=%d' % (time.perf_counter() - start, events))
