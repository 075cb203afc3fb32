// Shared steps of the scenarios: gated vendor calls and session/list checks.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import * as H from './harness.mjs';
import * as L from './lists-model.mjs';

// Calls a vendor request. When obs-websocket says the vendor or the request does not exist (the
// feature has not landed in this build), the test is skipped with that reason and null returned.
// The names a clip file of ClipSaved may have had before: OBS's own, or kept aside with the press label
// while OBS could give its next save the same name.
export const namesBefore = (saved) => [saved.file, saved.file.replace(/(\.[^.]*)$/, ` (${L.pressLabel(saved.number)})$1`)];

export async function call(t, h, type, data) {
	try {
		return await H.vendor(h.obs, type, data);
	} catch (e) {
		if (e.code === 600 || /not found|No vendor|No request/i.test(e.message ?? '')) {
			t.skip(`vendor request ${type} is not available in this build (${e.message})`);
			return null;
		}
		throw e;
	}
}

export async function getSession(h, id) {
	const r = await H.vendor(h.obs, 'GetSession', id ? { session_id: id } : undefined);
	assert.equal(r.ok, true, `GetSession ${id ?? ''}: ${r.error}`);
	return r;
}

export function entryById(session, id) {
	const e = session.entries.find((x) => x.id === id);
	assert.ok(e, `entry ${id} in session ${session.id}`);
	return e;
}

// Waits until the three lists of the session exist and equal what the session's JSON says they must
// hold; returns their paths.
export async function expectLists(h, sessionId, { timeout = 8000 } = {}) {
	let last;
	const paths = await H.waitFor(
		async () => {
			const s = await getSession(h, sessionId);
			const p = L.listPaths(s, s.export_folder);
			const want = L.expectedLists(s);
			last = { s, p };
			for (const k of ['timestamps', 'csv', 'notes']) {
				if (!fs.existsSync(p[k])) return null;
				if (!fs.readFileSync(p[k]).equals(want[k])) return null;
			}
			return p;
		},
		{ timeout, interval: 250, what: `the lists of ${sessionId}` },
	).catch((e) => {
		// Say what differs rather than only that it timed out.
		if (last) {
			const want = L.expectedLists(last.s);
			for (const k of ['timestamps', 'csv', 'notes']) {
				assert.ok(fs.existsSync(last.p[k]), `${k} list missing: ${last.p[k]}`);
				assert.equal(fs.readFileSync(last.p[k], 'utf8'), want[k].toString('utf8'), `${k} list content`);
			}
		}
		throw e;
	});
	const bytes = fs.readFileSync(paths.csv);
	assert.deepEqual([...bytes.subarray(0, 3)], [0xef, 0xbb, 0xbf], 'CSV starts with a BOM');
	for (const k of ['timestamps', 'notes']) {
		const b = fs.readFileSync(paths[k]);
		assert.notEqual(b[0], 0xef, `${k} has no BOM`);
	}
	for (const k of ['timestamps', 'csv', 'notes']) {
		const text = fs.readFileSync(paths[k], 'utf8');
		assert.ok(text.endsWith('\r\n'), `${k} ends in CR LF`);
		assert.equal(text.replace(/\r\n/g, '').includes('\n') && !last.s.entries.some((e) => (e.label ?? '').includes('\n')), false, `${k}: bare LF`);
	}
	return paths;
}

export function recordFile(dir) {
	return H.filesUnder(dir).filter((f) => /\.(mkv|mp4|flv|mov)$/.test(f));
}

export function assertInside(file, dir) {
	const rel = path.relative(dir, file);
	assert.ok(rel && !rel.startsWith('..') && !path.isAbsolute(rel), `${file} lies inside ${dir}`);
}
