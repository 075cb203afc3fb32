// What survives OBS going away: a session after a SIGKILL, settings and a hotkey binding after a restart.
import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import * as H from './harness.mjs';
import { call, getSession } from './common.mjs';

describe('crash recovery', { timeout: 180000 }, () => {
	let h;
	after(async () => {
		if (h) await h.close();
	});

	it('a session cut off by SIGKILL is repaired after a restart, with every mark older than 0.5 s', async (t) => {
		h = await H.launch();
		if (!(await call(t, h, 'GetStatus'))) return;
		const ids = [];
		for (let i = 0; i < 3; i++) {
			const p = await H.vendor(h.obs, 'Press', { mode: 'mark', label: `before crash ${i + 1}` });
			assert.equal(p.ok, true, p.error);
			ids.push(p.entry_id);
			await H.sleep(250);
		}
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		assert.notEqual(sid, '');
		await H.sleep(700);
		const last = await H.vendor(h.obs, 'Press', { mode: 'mark', label: 'just before the kill' });
		assert.equal(last.ok, true);
		await H.killObs(h);

		const cut = H.readJson(H.sessionFile(h.home, sid));
		assert.equal(cut.end_wall_ms, 0, 'left unfinished on disk');
		for (const id of ids) assert.ok(cut.entries.some((e) => e.id === id), `mark ${id} was on disk before the kill`);

		// While OBS is down: a copy made in a file manager, which still says the same id inside, and
		// a session whose write was cut off between libobs's two renames (only ".tmp" and ".bak").
		const copyId = `${sid} - Copy`;
		fs.copyFileSync(H.sessionFile(h.home, sid), H.sessionFile(h.home, copyId));
		const cutId = '2001-01-01_00-00-00';
		const older = { ...cut, id: cutId, prefix: 'older', end_wall_ms: cut.start_wall_ms + 1 };
		fs.writeFileSync(`${H.sessionFile(h.home, cutId)}.bak`, JSON.stringify(older));
		fs.writeFileSync(`${H.sessionFile(h.home, cutId)}.tmp`, JSON.stringify({ ...older, prefix: 'newer' }));

		await h.restart();
		const s = await getSession(h, sid);
		assert.equal(s.active, false);
		for (const id of ids) assert.ok(s.entries.some((e) => e.id === id), `mark ${id} survived`);
		const lastT = Math.max(...s.entries.map((e) => e.t_ms));
		assert.equal(s.length_ms, lastT, 'the end is the last mark');
		assert.equal(s.end_wall_ms, s.start_wall_ms + s.length_ms + 1);
		const repaired = await H.waitFor(() => {
			const f = H.readJson(H.sessionFile(h.home, sid));
			return f.end_wall_ms !== 0 ? f : null;
		}, { what: 'the repaired file', timeout: 3000 });
		assert.equal(repaired.length_ms, lastT);
		assert.equal((await H.vendor(h.obs, 'GetStatus')).session_id, '', 'nothing runs after the restart');
		const list = await H.vendor(h.obs, 'ListSessions');
		for (const id of [sid, copyId, cutId]) assert.ok(list.sessions.some((x) => x.id === id), `${id} listed`);

		// The interrupted write: read from its complete new text, and its file written again.
		const interrupted = await getSession(h, cutId);
		assert.equal(interrupted.prefix, 'newer');
		assert.ok(fs.existsSync(H.sessionFile(h.home, cutId)), 'the session file is back');

		// The copy is a session of its own: its edits never reach the original's file.
		const original = fs.readFileSync(H.sessionFile(h.home, sid), 'utf8');
		const copy = await getSession(h, copyId);
		assert.equal(copy.id, copyId);
		assert.ok(copy.prefix.endsWith(' - Copy'), `own list names: ${copy.prefix}`);
		const edited = await H.vendor(h.obs, 'SetLabel', { session_id: copyId, entry_id: ids[0], label: 'only in the copy' });
		assert.equal(edited.ok, true, edited.error);
		await H.waitFor(() => H.readJson(H.sessionFile(h.home, copyId)).entries.some((e) => e.label === 'only in the copy'), {
			what: 'the copy saved under its own name',
			timeout: 5000,
		});
		assert.equal(fs.readFileSync(H.sessionFile(h.home, sid), 'utf8'), original, 'the original file is untouched');
		assert.equal(H.readJson(H.sessionFile(h.home, copyId)).id, copyId);
	});
});

describe('settings persistence', { timeout: 180000 }, () => {
	let h;
	after(async () => {
		if (h) await h.close();
	});

	it('SetConfig values and a hotkey binding survive restarts', async (t) => {
		h = await H.launch();
		const exportDir = `${h.home.root}/lists`;
		const r = await call(t, h, 'SetConfig', {
			replay_seconds: 1,
			replay_speed: 500,
			replay_repeat: 2,
			rename_files: false,
			export_dir: exportDir,
			vantor_start: 'cam in',
			ignore_scenes: [{ name: 'Backstage' }, { name: 'BRB' }],
		});
		if (!r) return;
		assert.equal(r.ok, true);
		const check = (cfg) => {
			assert.equal(cfg.replay_seconds, 3, 'clamped to 3');
			assert.equal(cfg.replay_speed, 200, 'clamped to 200');
			assert.equal(cfg.replay_repeat, 2);
			assert.equal(cfg.rename_files, false);
			assert.equal(cfg.export_dir, exportDir);
			assert.equal(cfg.vantor_start, 'cam in');
			const text = JSON.stringify(cfg.ignore_scenes);
			assert.ok(text.indexOf('Backstage') >= 0 && text.indexOf('Backstage') < text.indexOf('BRB'), `ignore_scenes ${text}`);
		};
		check(H.readJson(h.home.configJson));

		// A binding made in OBS's hotkey settings lands in the plug-in's own file; put one there the same
		// way and see the plug-in read it back and write it again at its next shutdown.
		await h.stop();
		const cfg = H.readJson(h.home.configJson);
		check(cfg);
		cfg.hotkeys = { ...(cfg.hotkeys ?? {}), 'kelvaro_lumark.press': [{ key: 'OBS_KEY_F9', shift: true }] };
		fs.writeFileSync(h.home.configJson, JSON.stringify(cfg));

		await h.restart();
		const { hotkeys } = await h.obs.call('GetHotkeyList');
		assert.ok(hotkeys.includes('kelvaro_lumark.press'));
		const st = await h.stop();
		assert.equal(st.clean, true);
		const after2 = H.readJson(h.home.configJson);
		check(after2);
		const bind = after2.hotkeys?.['kelvaro_lumark.press'];
		assert.ok(Array.isArray(bind) && bind.length === 1, `binding kept: ${JSON.stringify(after2.hotkeys)}`);
		assert.equal(bind[0].key, 'OBS_KEY_F9');
		assert.equal(bind[0].shift, true);
	});
});
