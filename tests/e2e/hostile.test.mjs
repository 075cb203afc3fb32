// Hostile request fields: path-like session ids and unusual labels.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import * as H from './harness.mjs';
import { call, getSession, entryById } from './common.mjs';

function snapshot(dir, skip) {
	const out = new Map();
	for (const f of H.filesUnder(dir)) if (!skip(f)) out.set(f, fs.readFileSync(f));
	return out;
}

describe('hostile input', { timeout: 180000 }, () => {
	let h;
	before(async () => {
		h = await H.launch();
	});
	after(async () => {
		if (h) await h.close();
	});

	it('path-like session ids touch nothing outside the sessions folder', async (t) => {
		if (!(await call(t, h, 'SetConfig', { replay_repeat: 1 }))) return;
		// One real ended session so that the sessions folder and config.json exist.
		const p = await H.vendor(h.obs, 'Press', { mode: 'mark', label: 'real' });
		assert.equal(p.ok, true);
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		assert.equal((await H.vendor(h.obs, 'EndFreeSession')).ok, true);
		await H.sleep(600);
		const victim = path.join(h.home.pluginConfig, 'victim.json');
		fs.writeFileSync(victim, JSON.stringify({ id: 'victim', entries: [] }));
		fs.writeFileSync(path.join(h.home.root, 'outside.json'), '{"keep":true}');
		const inSessions = (f) => f.startsWith(h.home.sessionsDir + path.sep);
		const isLog = (f) => f.includes(`${path.sep}logs${path.sep}`) || f.endsWith('.log') || f.includes(`${path.sep}videos${path.sep}`);
		const before = snapshot(h.home.root, (f) => inSessions(f) || isLog(f));
		assert.ok(before.has(h.home.configJson), 'config.json exists');

		const ids = ['../config', '../victim', '../../../outside', '..', '.', '', '/etc/passwd', 'a/b', '..\\config', 'con', 'x'.repeat(5000), `${sid}/../../config`];
		for (const id of ids) {
			const g = await H.vendor(h.obs, 'GetSession', { session_id: id });
			if (id !== '') assert.equal(g.ok, false, `GetSession ${JSON.stringify(id.slice(0, 40))}`);
			assert.equal((await H.vendor(h.obs, 'ViewSession', { session_id: id })).ok, id === '' ? (await H.vendor(h.obs, 'ListSessions')).viewed === '' : false);
			assert.equal((await H.vendor(h.obs, 'RemoveSession', { session_id: id })).ok, false, `RemoveSession ${JSON.stringify(id.slice(0, 40))}`);
			await H.vendor(h.obs, 'SetLabel', { session_id: id, entry_id: 1, label: 'pwned' });
			await H.vendor(h.obs, 'SetArchiveUrl', { session_id: id, url: 'https://example.invalid/' });
			await H.vendor(h.obs, 'Export', { session_id: id });
		}
		await H.sleep(2000); // past the save and export delays
		const after = snapshot(h.home.root, (f) => inSessions(f) || isLog(f));
		for (const [f, bytes] of before) assert.ok(after.has(f) && after.get(f).equals(bytes), `${f} untouched`);
		for (const f of after.keys()) {
			if (before.has(f)) continue;
			// Only lists and quotes of real sessions may appear, in the export folder.
			assert.ok(f.startsWith(h.home.output + path.sep), `unexpected new file ${f}`);
		}
		for (const f of H.filesUnder(h.home.sessionsDir)) assert.match(path.basename(f), /^[\w-]+\.json(\.bak|\.tmp)?$/);
		assert.ok(fs.existsSync(victim) && fs.existsSync(h.home.configJson));
		assert.ok((await H.vendor(h.obs, 'ListSessions')).sessions.some((x) => x.id === sid));
	});

	it('huge, control-character and emoji labels round-trip or are refused cleanly', async (t) => {
		if (!(await call(t, h, 'GetStatus'))) return;
		const labels = ['x'.repeat(100 * 1024), 'tab\there\u0001\u001f\u007f end', 'line\r\nbreak', '🎉 日本語 ラベル 👍🏽', '"quoted", <angle> & back\\slash', '%1 %2 %s %n'];
		const sent = [];
		for (const label of labels) {
			const r = await H.vendor(h.obs, 'Press', { mode: 'mark', label });
			if (r.ok) sent.push({ label, id: r.entry_id });
			else assert.equal(r.entry_id, 0, 'a refused press makes no entry');
		}
		assert.ok(sent.length >= labels.length - 1, 'only the 100 kB label may be refused');
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		const s = await getSession(h, sid);
		for (const { label, id } of sent) assert.equal(entryById(s, id).label, label.trim(), `label ${JSON.stringify(label.slice(0, 20))}`);

		// SetLabel with the same texts on one entry.
		const target = sent[sent.length - 1].id;
		for (const label of labels) {
			const before = entryById(await getSession(h, sid), target).label;
			const r = await H.vendor(h.obs, 'SetLabel', { session_id: sid, entry_id: target, label });
			// The huge label may be refused, with a reason; then the entry keeps its label whole.
			if (label.length > 4096 && !r.ok) assert.ok(r.error, 'a refusal says why');
			else assert.equal(r.ok, true);
			const got = entryById(await getSession(h, sid), target).label;
			const refused = label.length > 4096 && !r.ok && got === before;
			assert.ok(refused || got === label || got === label.trim(), `SetLabel ${JSON.stringify(label.slice(0, 20))} gave ${JSON.stringify(got.slice(0, 20))}`);
		}
		assert.equal((await H.vendor(h.obs, 'EndFreeSession')).ok, true);
		await H.sleep(600);
		const file = H.readJson(H.sessionFile(h.home, sid));
		for (const { label, id } of sent.slice(0, -1)) assert.equal(file.entries.find((e) => e.id === id).label, label.trim());

		// OBS and the vendor keep running.
		const v = await h.obs.call('GetVersion');
		assert.ok(v.obsVersion);
		assert.equal((await H.vendor(h.obs, 'GetStatus')).ok, true);
	});
});
