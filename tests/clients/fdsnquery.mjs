// Asks harvix-gateway's FDSN event service through seisplotjs and prints
// each event it read, one JSON object a line, for tst_fdsn to compare with
// the gateway's own Harvix search.
//   node fdsnquery.mjs PORT STARTTIME ENDTIME MINMAGNITUDE
import { DOMParser } from "@xmldom/xmldom";

// What seisplotjs takes from a browser: an XML parser whose elements have
// children and parentElement, as a browser's DOM has.
globalThis.DOMParser = DOMParser;
const sample = new DOMParser().parseFromString("<a><b/></a>", "text/xml");
for (const prototype of [Object.getPrototypeOf(sample.documentElement), Object.getPrototypeOf(sample)]) {
    if (!("children" in prototype))
        Object.defineProperty(prototype, "children", {
            get() { return Array.from(this.childNodes).filter((node) => node.nodeType === 1); },
        });
    if (!("parentElement" in prototype))
        Object.defineProperty(prototype, "parentElement", {
            get() { return this.parentNode && this.parentNode.nodeType === 1 ? this.parentNode : null; },
        });
}
if (!globalThis.window)
    globalThis.window = globalThis;
// Its plotting elements are defined when it loads; none is used here.
class Element {}
for (const name of ["HTMLElement", "HTMLDivElement", "HTMLCanvasElement", "HTMLInputElement",
                    "HTMLSelectElement", "HTMLButtonElement", "HTMLSpanElement", "SVGElement"])
    globalThis[name] ??= class extends Element {};
globalThis.customElements ??= { define() {}, get() { return undefined; } };
// It names itself as the referrer, which a browser allows and Node's fetch
// refuses as not a URL.
const nodeFetch = globalThis.fetch;
globalThis.fetch = (url, init = {}) => {
    const { referrer, ...rest } = init;
    return nodeFetch(url, rest);
};

const sp = await import("seisplotjs");

const [port, start, end, minMagnitude] = process.argv.slice(2);
const query = new sp.fdsnevent.EventQuery("127.0.0.1")
    .protocol("http:")
    .port(Number(port))
    .startTime(sp.util.isoToDateTime(start))
    .endTime(sp.util.isoToDateTime(end))
    .minMag(Number(minMagnitude));
const quakes = await query.query();
for (const quake of quakes) {
    const origin = quake.preferredOrigin;
    const magnitude = quake.preferredMagnitude;
    console.log(JSON.stringify({
        id: quake.eventId,
        publicId: quake.publicId,
        time: origin ? origin.time.toUTC().toISO() : null,
        latitude: origin ? origin.latitude : null,
        longitude: origin ? origin.longitude : null,
        depthKm: origin && origin.depth !== undefined ? origin.depth / 1000 : null,
        magnitude: magnitude ? magnitude.mag : null,
        magnitudeType: magnitude ? magnitude.type : null,
        place: quake.description,
    }));
}
// Its time-out timer would keep Node waiting after the answer.
process.exit(0);
