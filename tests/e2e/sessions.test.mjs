// Recording and stream sessions, and editing an ended session through the vendor.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import * as H from './harness.mjs';
import * as L from './lists-model.mjs';
import { call, getSession, entryById, expectLists, recordFile } from './common.mjs';

describe('recording and stream sessions', { timeout: 300000 }, () => {
	let h;
	let rtmp;
	let streamSid = '';
	let streamPressId = 0;
	before(async () => {
		rtmp = await H.startNginx();
		h = await H.launch();
	});
	after(async () => {
		if (h) await h.close();
		await H.stopNginx(rtmp);
	});

	async function scene(name) {
		const from = h.events.mark();
		await h.obs.call('SetCurrentProgramScene', { sceneName: name });
		await h.events.waitObs('CurrentProgramSceneChanged', { from }, (d) => d.sceneName === name);
	}

	it('a recording session collects start, scene, song and topic marks and writes its lists', async (t) => {
		const cfg = await call(t, h, 'SetConfig', { ignore_scenes: [{ name: 'Backstage' }], scene_marks: true, marks_start: true });
		if (!cfg) return;
		assert.equal(cfg.ok, true);
		await h.obs.call('CreateScene', { sceneName: 'Backstage' });

		const from = h.events.mark();
		await H.startRecord(h);
		const st = await H.vendor(h.obs, 'GetStatus');
		const sid = st.session_id;
		assert.notEqual(sid, '', 'a recording session runs');

		await H.sleep(1100);
		await scene(H.SCENES[1]);
		await H.sleep(1100);
		await scene('Backstage');
		await H.sleep(300);
		await scene(H.SCENES[0]);

		const song = await H.vendor(h.obs, 'AddMark', { kind: 'song', label: '  Song One ' });
		assert.equal(song.ok, true, song.error);
		const again = await H.vendor(h.obs, 'AddMark', { kind: 'Song', label: 'Song One' });
		assert.equal(again.entry_id, song.entry_id, 'an equal mark within 2 s is the same mark');
		const topic = await H.vendor(h.obs, 'AddMark', { kind: 'TOPIC', label: 'Intro' });
		const other = await H.vendor(h.obs, 'AddMark', { kind: 'chat', label: 'Raid' });
		const blank = await H.vendor(h.obs, 'AddMark', { kind: 'song', label: '   ' });
		assert.equal(blank.ok, false);
		assert.equal(blank.entry_id, 0);
		await H.sleep(500);

		const s = await getSession(h, sid);
		assert.equal(s.source, 1, 'recording session');
		assert.equal(s.active, true);
		const kinds = s.entries.map((e) => [e.kind, e.label]);
		assert.deepEqual(kinds, [
			[0, 'Opening'],
			[1, H.SCENES[1]],
			[1, H.SCENES[0]],
			[5, 'Song One'],
			[6, 'Intro'],
			[3, 'Raid'],
		]);
		assert.equal(s.entries[0].t_ms, 0);
		const marked = h.events.vendor('Marked', from).map((i) => i.data.eventData.entry_id);
		assert.equal(marked.filter((id) => id === song.entry_id).length, 1, 'the duplicate sent no event');
		assert.equal(kinds.some(([, l]) => l === 'Backstage'), false, 'ignored scene gave no mark');
		assert.ok(entryById(s, topic.entry_id) && entryById(s, other.entry_id));

		const ended = h.events.mark();
		await H.stopRecord(h);
		await h.events.waitVendor('SessionEnded', { from: ended }, (d) => d.session_id === sid);
		const lists = await expectLists(h, sid);
		const ts = fs.readFileSync(lists.timestamps, 'utf8').split('\r\n');
		assert.equal(ts[0], '00:00 Opening');
		assert.equal(ts.length, 7, 'six chapter lines and the closing CR LF');
		assert.ok(recordFile(h.home.output).some((f) => f.endsWith('.mkv') && !path.basename(f).startsWith('Replay')), 'the recording file');
	});

	it('a stream session keeps a recording started during it', async (t) => {
		if (!(await call(t, h, 'GetStatus'))) return;
		await H.stopBuffer(h);
		const from = h.events.mark();
		await H.startStream(h, rtmp.url);
		// "auto_start_buffer" is on by default: the enabled but stopped buffer starts with the stream.
		await h.events.waitObs('ReplayBufferStateChanged', { from, timeout: 15000 }, (d) => d.outputState === 'OBS_WEBSOCKET_OUTPUT_STARTED');
		const st = await H.vendor(h.obs, 'GetStatus');
		const sid = st.session_id;
		assert.notEqual(sid, '');
		assert.equal((await getSession(h, sid)).source, 0, 'stream session');

		await H.startRecord(h);
		assert.equal((await H.vendor(h.obs, 'GetStatus')).session_id, sid, 'the recording belongs to the stream session');
		await H.sleep(1500);
		const p = await H.vendor(h.obs, 'Press', { label: 'during recording' });
		assert.equal(p.ok, true, p.error);
		await h.events.waitVendor('ClipSaved', { from, timeout: 20000 }, (d) => d.entry_id === p.entry_id);
		await H.stopRecord(h);
		await H.sleep(300);
		assert.equal((await H.vendor(h.obs, 'GetStatus')).session_id, sid, 'stopping the recording does not end the stream session');

		const ended = h.events.mark();
		await H.stopStream(h);
		const se = (await h.events.waitVendor('SessionEnded', { from: ended }, (d) => d.session_id === sid)).data.eventData;
		assert.ok(se.length_ms > 1500);
		const s = await getSession(h, sid);
		assert.equal(s.active, false);
		assert.deepEqual(
			s.entries.map((e) => e.kind),
			[0, 2],
		);
		assert.equal(entryById(s, p.entry_id).label, 'during recording');
		await expectLists(h, sid);
		streamSid = sid;
		streamPressId = p.entry_id;
	});

	it('edits of an ended session reach its file and its lists 1.5 s later', async (t) => {
		if (!streamSid) return t.skip('needs the stream session of the scenario before');
		const sid = streamSid;
		const s0 = await getSession(h, sid);
		const start = s0.entries.find((e) => e.kind === 0);
		const paths = L.listPaths(s0, s0.export_folder);

		const editAt = Date.now();
		const r = await H.vendor(h.obs, 'SetLabel', { session_id: sid, entry_id: streamPressId, label: 'edited, "quoted" label' });
		assert.equal(r.ok, true);
		await H.waitFor(() => H.readJson(H.sessionFile(h.home, sid)).entries.some((e) => e.label === 'edited, "quoted" label'), { what: 'the label in the session file', timeout: 3000 });
		await H.waitFor(() => fs.readFileSync(paths.timestamps, 'utf8').includes('edited, "quoted" label'), { what: 'the lists rewritten', timeout: 6000 });
		const delay = fs.statSync(paths.timestamps).mtimeMs - editAt;
		assert.ok(delay >= 1200, `lists rewritten ${Math.round(delay)} ms after the edit, not at once`);
		// The three lists are written one after the other: the CSV may follow the timestamps a moment later.
		await H.waitFor(() => fs.readFileSync(paths.csv, 'utf8').includes('"edited, ""quoted"" label"'), { what: 'quoted CSV field', timeout: 2000 });
		await expectLists(h, sid);

		assert.equal((await H.vendor(h.obs, 'SetChapter', { session_id: sid, entry_id: start.id, chapter: false })).ok, true);
		assert.equal((await H.vendor(h.obs, 'SetShift', { session_id: sid, entry_id: streamPressId, ms: 99999 })).ok, true);
		assert.equal((await H.vendor(h.obs, 'SetArchiveUrl', { session_id: sid, url: '  https://www.youtube.com/watch?v=abcDEF12345&t=3  ' })).ok, true);
		const s1 = await getSession(h, sid);
		const press = entryById(s1, streamPressId);
		assert.equal(s1.shift_ms, press.t_ms, 'shift taken from the entry, "ms" ignored');
		assert.equal(s1.archive_url, 'https://www.youtube.com/watch?v=abcDEF12345&t=3');
		assert.equal(entryById(s1, start.id).chapter, false);
		const lists = await expectLists(h, sid);
		assert.equal(fs.readFileSync(lists.timestamps, 'utf8'), '00:00 edited, "quoted" label\r\n');
		assert.ok(fs.readFileSync(lists.notes, 'utf8').includes('https://youtu.be/abcDEF12345?t='));

		const chaptersBefore = s1.entries.filter((e) => e.chapter).length;
		const drop = await H.vendor(h.obs, 'DropShortChapters', { session_id: sid });
		assert.equal(drop.ok, true);
		const s2 = await getSession(h, sid);
		assert.equal(drop.count, chaptersBefore - s2.entries.filter((e) => e.chapter).length, 'count = chapter flags cleared');

		assert.equal((await H.vendor(h.obs, 'RemoveEntry', { session_id: sid, entry_id: start.id })).ok, true);
		await H.waitFor(() => !H.readJson(H.sessionFile(h.home, sid)).entries.some((e) => e.id === start.id), { what: 'entry removed from the file', timeout: 3000 });

		const ex = await H.vendor(h.obs, 'Export', { session_id: sid });
		assert.equal(ex.ok, true);
		assert.deepEqual(
			ex.files.map((f) => f.path),
			[paths.timestamps, paths.csv, paths.notes],
		);
		await expectLists(h, sid);

		const q = await H.vendor(h.obs, 'ExportQuotes');
		assert.equal(q.ok, true, q.error);
		assert.ok(fs.existsSync(q.path), q.path);
		assert.ok(fs.readFileSync(q.path, 'utf8').includes('edited, "quoted" label'));
	});
	it('marks made on a full disk are kept, told once, and reach the file when space is back', async (t) => {
		if (process.getuid?.() !== 0) return t.skip('mounting a small tmpfs needs root');
		if (!(await call(t, h, 'GetStatus'))) return;
		const dir = h.home.sessionsDir;
		const status = async () => (await H.vendor(h.obs, 'GetStatus')).message;
		fs.mkdirSync(dir, { recursive: true });
		// A chroot host's OBS has mounts of its own: the small disk goes there, under the chroot.
		const root = process.env.LUMARK_E2E_HOST_ROOT ?? '';
		const inObsMounts = (cmd, args) => execFileSync(root ? 'nsenter' : cmd, root ? ['--target', String(h.obsPid), '--mount', cmd, ...args] : args);
		const full = root + dir;
		inObsMounts('mount', ['-t', 'tmpfs', '-o', 'size=64k', 'tmpfs', full]);
		let mounted = true;
		try {
			inObsMounts('sh', ['-c', `head -c 1048576 /dev/zero > '${full}/filler' 2>/dev/null; true`]);
			const p = await H.vendor(h.obs, 'Press', { mode: 'mark', label: 'on a full disk' });
			assert.equal(p.ok, true, p.error);
			const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
			assert.equal((await H.vendor(h.obs, 'Press', { mode: 'mark', label: 'also on a full disk' })).ok, true);
			await H.waitFor(async () => /could not be saved \(disk full\)/.test(await status()), { what: 'the status telling the failure', timeout: 5000 });
			await H.sleep(2500); // a retry fails too, and is not told again
			inObsMounts('umount', [full]);
			mounted = false;
			await H.waitFor(() => fs.existsSync(H.sessionFile(h.home, sid)), { what: 'the session file written by a retry', timeout: 20000 });
			const labels = H.readJson(H.sessionFile(h.home, sid)).entries.map((e) => e.label);
			assert.deepEqual(labels, ['on a full disk', 'also on a full disk']);
			await H.waitFor(async () => /saved again/.test(await status()), { what: 'the status telling the end', timeout: 3000 });
			assert.doesNotMatch(await status(), /could not be saved/);
			const log = H.allLogText(h.home);
			assert.equal(log.split(`session ${sid} could not be saved`).length - 1, 1, 'told once in the log');
			assert.match(log, /session files are written again/);
			assert.deepEqual(fs.readdirSync(dir).filter((f) => f.startsWith(sid) && !f.endsWith('.json')), [], 'no stray files');
		} finally {
			if (mounted) inObsMounts('umount', [full]);
		}
	});
});
