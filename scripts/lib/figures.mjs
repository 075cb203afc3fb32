#!/usr/bin/env node
// Prints the end-to-end suite's figures of several hosts side by side.
//   node figures.mjs "TITLE=FILE" "TITLE=FILE" ...
// Each file holds the lines the suite writes to LUMARK_E2E_REPORT: headings, and figure lines
// "  <name>   <number>". Figures are matched by heading and name; a missing one shows as "-",
// and so does a host whose file is missing or empty (its suite did not run or failed early).
import fs from 'node:fs';

const hosts = process.argv.slice(2).map((a) => {
	const i = a.indexOf('=');
	return { title: a.slice(0, i), file: a.slice(i + 1) };
});
if (!hosts.length || hosts.some((h) => !h.title || !h.file)) {
	console.error('usage: figures.mjs TITLE=FILE [TITLE=FILE...]');
	process.exit(2);
}

function parse(file) {
	const rows = [];
	let heading = '';
	let text = '';
	try {
		text = fs.readFileSync(file, 'utf8');
	} catch {
		return rows;
	}
	for (const line of text.split('\n')) {
		if (!line.trim()) continue;
		const m = line.match(/^\s+(.*?)\s{2,}(-?\d+(?:\.\d+)?)\s*$/);
		if (m) rows.push({ heading, name: m[1], value: m[2] });
		else heading = line.trim();
	}
	return rows;
}

const data = hosts.map((h) => parse(h.file));
const key = (r) => `${r.heading}\u0000${r.name}`;
const order = [];
const seen = new Set();
for (const rows of data)
	for (const r of rows)
		if (!seen.has(key(r))) {
			seen.add(key(r));
			order.push(r);
		}
const valueIn = (rows, r) => rows.filter((x) => key(x) === key(r)).map((x) => x.value).join('/') || '-';

const width = Math.max(...order.map((r) => r.name.length), 10) + 2;
const cols = hosts.map((h) => Math.max(h.title.length, 8) + 2);
let heading = null;
for (const r of order) {
	if (r.heading !== heading) {
		heading = r.heading;
		console.log(heading);
		console.log(`  ${''.padEnd(width)}${hosts.map((h, i) => h.title.padStart(cols[i])).join('')}`);
	}
	console.log(`  ${r.name.padEnd(width)}${data.map((rows, i) => valueIn(rows, r).padStart(cols[i])).join('')}`);
}
