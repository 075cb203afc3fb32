// The highlights video of a recording session: four presses, two of them 5 s apart.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import * as H from './harness.mjs';
import { call, entryById, getSession } from './common.mjs';

const SECONDS = 10;
const KEYFRAME_S = 2;

describe('the highlights video in a real OBS', { timeout: 240000 }, () => {
	let h;
	before(async () => {
		// The replay buffer on the stream encoder with a keyframe every 2 s and a 15 s buffer.
		h = await H.launch({
			prepare: (home) => {
				const ini = path.join(home.obsDir, 'basic', 'profiles', 'CI', 'basic.ini');
				const text = fs.readFileSync(ini, 'utf8').replace(/^RecQuality=.*$/m, `RecQuality=Stream\nUseAdvanced=true\nx264Settings=keyint=${30 * KEYFRAME_S}`);
				fs.writeFileSync(ini, text.replace(/^RecRBTime=.*$/m, 'RecRBTime=15'));
			},
		});
	});
	after(async () => {
		if (h) await h.close();
	});

	it('cuts the overlap, carries one chapter per mark, plays in a media source and is told', async (t) => {
		const cfg = await call(t, h, 'SetConfig', { highlight_seconds: SECONDS, highlights_video: true, press_replay: false });
		if (!cfg) return;
		await H.startBuffer(h);
		await H.startRecord(h);
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		const labels = ['first', 'second', 'third', 'fourth'];
		const ids = [];
		const from = h.events.mark();
		for (const [i, label] of labels.entries()) {
			await H.sleep(i === 2 ? 5000 : (SECONDS + 1) * 1000);
			const p = await H.vendor(h.obs, 'Press', { label });
			assert.equal(p.ok, true, p.error);
			ids.push(p.entry_id);
			await h.events.waitVendor('ClipSaved', { from, timeout: 20000 }, (d) => d.entry_id === p.entry_id);
		}
		const ended = h.events.mark();
		await H.stopRecord(h);
		const ev = (await h.events.waitVendor('HighlightsWritten', { from: ended, timeout: 30000 }, (d) => d.session_id === sid)).data.eventData;
		assert.equal(ev.stretches, 4);
		assert.match(ev.file, / highlights\.mp4$/);

		// ffprobe: no errors, one chapter per mark, decode times rising in every stream.
		const probe = spawnSync('ffprobe', ['-v', 'error', '-show_chapters', '-show_format', '-of', 'json', ev.file], { encoding: 'utf8' });
		assert.equal(probe.stderr, '', 'ffprobe reports no errors');
		const info = JSON.parse(probe.stdout);
		assert.deepEqual(info.chapters.map((c) => c.tags.title), labels);
		const duration = Number(info.format.duration);
		const session = await getSession(h, sid);
		const gap = (entryById(session, ids[2]).t_ms - entryById(session, ids[1]).t_ms) / 1000;
		const planned = SECONDS * 3 + gap;
		assert.ok(Math.abs(duration - planned) <= 4 * KEYFRAME_S, `duration ${duration} s, planned ${planned} s`);
		assert.ok(Math.abs(duration * 1000 - ev.duration_ms) < 500, `event ${ev.duration_ms} ms`);
		// The third stretch runs from where the second ended: the marks' own gap (5 s and the press's
		// round trip), at most one keyframe interval more (and the placement's few hundred ms), never the
		// whole highlight length.
		const third = Number(info.chapters[3].start_time) - Number(info.chapters[2].start_time);
		assert.ok(gap < SECONDS && third <= gap + KEYFRAME_S + 0.5, `the third mark, ${gap} s after the second, shows ${third} s, not the footage before`);
		const packets = H.execFileSync('ffprobe', ['-v', 'error', '-show_entries', 'packet=stream_index,dts', '-of', 'csv=p=0', ev.file], { encoding: 'utf8' });
		const last = {};
		for (const [stream, dts] of packets.trim().split('\n').map((l) => l.split(',').map(Number))) {
			assert.ok(!(dts <= last[stream]), `stream ${stream}: dts ${dts} after ${last[stream]}`);
			last[stream] = dts;
		}

		// The description's chapters: 0:00 first, three at least, none under ten seconds.
		const lines = fs.readFileSync(ev.file.replace(/\.mp4$/, '.txt'), 'utf8').split('\r\n').filter(Boolean);
		const secs = lines.map((l) => l.split(' ')[0].split(':').reduce((a, b) => a * 60 + Number(b), 0));
		assert.equal(secs[0], 0, lines.join(' | '));
		assert.ok(lines.length >= 3, lines.join(' | '));
		for (let i = 1; i <= secs.length; i++) assert.ok((i < secs.length ? secs[i] : Math.floor(duration)) - secs[i - 1] >= 10, lines.join(' | '));

		// OBS's own media source plays it.
		const scene = (await h.obs.call('GetCurrentProgramScene')).currentProgramSceneName;
		await h.obs.call('CreateInput', { sceneName: scene, inputName: 'highlights', inputKind: 'ffmpeg_source', inputSettings: { local_file: ev.file, is_local_file: true } });
		const playing = await H.waitFor(
			async () => {
				const st = await h.obs.call('GetMediaInputStatus', { inputName: 'highlights' });
				return st.mediaState === 'OBS_MEDIA_STATE_PLAYING' && st.mediaCursor > 500 ? st : null;
			},
			{ what: 'the media source playing the video', timeout: 10000 },
		);
		assert.ok(Math.abs(playing.mediaDuration - duration * 1000) < 1000, `media duration ${playing.mediaDuration} ms`);
		await h.obs.call('RemoveInput', { inputName: 'highlights' });
		t.diagnostic(`highlights: ${duration.toFixed(2)} s for ${planned.toFixed(2)} s planned, chapters at ${info.chapters.map((c) => Number(c.start_time).toFixed(2)).join(', ')} s`);

		// OBS's rendering beside five exports in a row (20 stretches) against as long without one.
		const stats = async () => {
			const s = await h.obs.call('GetStats');
			return s.renderSkippedFrames + s.outputSkippedFrames;
		};
		const before = await stats();
		const started = performance.now();
		for (let i = 0; i < 5; i++) {
			const mark = h.events.mark();
			assert.equal((await H.vendor(h.obs, 'ExportHighlights', { session_id: sid })).ok, true);
			await h.events.waitVendor('HighlightsWritten', { from: mark, timeout: 30000 });
		}
		const during = (await stats()) - before;
		const exportMs = Math.round(performance.now() - started);
		await H.sleep(exportMs);
		const idle = (await stats()) - before - during;
		const line = `highlights: ${during} frames skipped or lagged during 5 exports (${exportMs} ms), ${idle} in as long without`;
		t.diagnostic(line);
		if (process.env.LUMARK_E2E_REPORT) fs.appendFileSync(process.env.LUMARK_E2E_REPORT, `${line}\n`);
	});
});
