#!/usr/bin/env node
// Prints the end-to-end suite's figures of both hosts side by side.
//   node figures.mjs HOST1_FILE HOST2_FILE
// Each file holds the lines the suite writes to LUMARK_E2E_REPORT: headings, and figure lines
// "  <name>   <number>". Figures are matched by name; a missing one shows as "-".
import fs from 'node:fs';

const [fileA, fileB] = process.argv.slice(2);
if (!fileA || !fileB) {
	console.error('usage: figures.mjs HOST1_FILE HOST2_FILE');
	process.exit(2);
}

function parse(file) {
	const rows = [];
	let heading = '';
	for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
		if (!line.trim()) continue;
		const m = line.match(/^\s+(.*?)\s{2,}(-?\d+(?:\.\d+)?)\s*$/);
		if (m) rows.push({ heading, name: m[1], value: m[2] });
		else heading = line.trim();
	}
	return rows;
}

const a = parse(fileA);
const b = parse(fileB);
const key = (r) => `${r.heading}\u0000${r.name}`;
const order = [];
for (const r of [...a, ...b]) if (!order.some((o) => key(o) === key(r))) order.push(r);
const valueIn = (rows, r) => rows.filter((x) => key(x) === key(r)).map((x) => x.value).join('/') || '-';

const head = ['', 'OBS 29.0.2 Qt 5', 'OBS 30.2.3 Qt 6'];
const width = Math.max(...order.map((r) => r.name.length), 10) + 2;
let heading = null;
for (const r of order) {
	if (r.heading !== heading) {
		heading = r.heading;
		console.log(heading);
		console.log(`  ${head[0].padEnd(width)}${head[1].padStart(16)}${head[2].padStart(18)}`);
	}
	console.log(`  ${r.name.padEnd(width)}${valueIn(a, r).padStart(16)}${valueIn(b, r).padStart(18)}`);
}
