// Scenarios only newer hosts can run. OBS 30.2+: recording chapters (Hybrid MP4), the chapter
// warning with a recording format that takes none (fragmented MP4, whose replays OBS remuxes), and the
// dock added by id. OBS 31.1+: a scene
// of the main canvas. "scripts/host.sh obs30 e2e" and "obs32 e2e" run them; older hosts skip.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import * as H from './harness.mjs';
import { call } from './common.mjs';

const [major = 0, minor = 0] = (process.env.LUMARK_E2E_OBS_VERSION ?? '').split('.').map(Number);
const atLeast = (a, b) => major > a || (major === a && minor >= b);
const skip = atLeast(30, 2) ? false : 'needs OBS 30.2+ (scripts/host.sh obs30 e2e)';
const canvasSkip = atLeast(31, 1) ? false : 'needs OBS 31.1+ (scripts/host.sh obs32 e2e)';
const CHAPTER_WARNING =
	'[lumark] 録画にチャプターを入れられませんでした（録画の形式がハイブリッド MP4 ではない・一時停止中など）';
const DOCK_ID = 'kelvaro_lumark_dock';

function setRecordFormat(home, format) {
	const file = path.join(home.obsDir, 'basic', 'profiles', 'CI', 'basic.ini');
	const text = fs.readFileSync(file, 'utf8');
	assert.match(text, /^RecFormat2=/m, 'the profile names OBS 30 recording format');
	fs.writeFileSync(file, text.replace(/^RecFormat2=.*$/m, `RecFormat2=${format}`));
}

// OBS's automatic remux after each save and recording (profile [Video] AutoRemux).
function setAutoRemux(home) {
	const file = path.join(home.obsDir, 'basic', 'profiles', 'CI', 'basic.ini');
	fs.writeFileSync(file, fs.readFileSync(file, 'utf8').replace(/^\[Video\]$/m, '[Video]\nAutoRemux=true'));
}

function ffprobeChapters(file) {
	const [cmd, ...pre] = (process.env.LUMARK_E2E_FFPROBE || 'ffprobe').split(' ');
	const out = execFileSync(cmd, [...pre, '-v', 'error', '-show_chapters', '-of', 'json', file], { encoding: 'utf8' });
	return JSON.parse(out).chapters ?? [];
}

async function program(h, name) {
	const from = h.events.mark();
	await h.obs.call('SetCurrentProgramScene', { sceneName: name });
	await h.events.waitObs('CurrentProgramSceneChanged', { from }, (d) => d.sceneName === name);
}

function countOf(text, needle) {
	return text.split(needle).length - 1;
}

async function pressMarks(t, h, labels) {
	for (const label of labels) {
		const r = await call(t, h, 'Press', { mode: 'mark', label });
		if (!r) return false;
		assert.equal(r.ok, true, `Press ${label}: ${r.error}`);
	}
	return true;
}

// Decodes the dock part of QMainWindow::saveState (Qt 5/6 layout, big-endian QDataStream):
// returns [{name, area, visible, floating, flagsAt}] with area 0 left, 1 right, 2 top, 3 bottom
// and flagsAt the byte offset of the dock's state flags (bit 0 visible, bit 1 floating).
export function docksInState(base64) {
	const b = Buffer.from(base64, 'base64');
	let o = 0;
	const u8 = () => b[o++];
	const i32 = () => ((o += 4), b.readInt32BE(o - 4));
	const qstr = () => {
		const n = b.readUInt32BE(o);
		o += 4;
		if (n === 0xffffffff) return '';
		const s = Buffer.from(b.subarray(o, o + n)).swap16().toString('utf16le');
		o += n;
		return s;
	};
	const out = [];
	const info = (area) => {
		const marker = u8();
		if (marker === 0xfa) i32(); // tabbed: index of the current tab
		else if (marker !== 0xfc) throw new Error(`unexpected marker ${marker} at ${o - 1}`);
		u8(); // orientation
		const count = i32();
		for (let k = 0; k < count; k++) {
			const m = u8();
			if (m === 0xfb) {
				const name = qstr();
				const flagsAt = o;
				const flags = u8();
				i32(), i32(), i32(), i32();
				out.push({ name, area, visible: !!(flags & 1), floating: !!(flags & 2), flagsAt });
			} else if (m === 0xfc) {
				i32(), i32(), i32(), i32();
				info(area);
			} else throw new Error(`unexpected item marker ${m} at ${o - 1}`);
		}
	};
	if (i32() !== 0xff) throw new Error('not a QMainWindow state');
	i32(); // version
	if (u8() !== 0xfd) throw new Error('no dock widget state');
	const areas = i32();
	for (let a = 0; a < areas; a++) {
		const area = i32();
		i32(), i32(); // area size
		info(area);
	}
	return out;
}

// OBS 30 keeps the main window's state in global.ini (31 moved it to user.ini).
function savedDockState(home) {
	for (const f of ['user.ini', 'global.ini']) {
		const file = path.join(home.obsDir, f);
		if (!fs.existsSync(file)) continue;
		const text = fs.readFileSync(file, 'utf8');
		const section = text.split(/^\[/m).find((s) => s.startsWith('BasicWindow]'));
		const m = section?.match(/^DockState=(.*)$/m);
		if (m) return { file, text, value: m[1].trim() };
	}
	return null;
}

// Runs fn with a started OBS and always closes it (node 20 skips afterEach hooks after a
// t.skip(), so the hook cannot be trusted with this). obs-websocket 5.5 answers before OBS has
// finished loading, with status 207 until then, so fn starts once OBS is ready.
async function withObs(opts, fn) {
	const h = await H.launch(opts);
	try {
		await H.waitFor(
			async () => {
				try {
					await h.obs.call('GetVersion');
					return true;
				} catch (e) {
					if (e.code === 207) return false;
					throw e;
				}
			},
			{ timeout: 60000, interval: 250, what: 'OBS to finish loading' },
		);
		return await fn(h);
	} finally {
		await h.close();
	}
}

describe('newer host: OBS 30.2 recording chapters and docks', { skip, timeout: 300000 }, () => {
	it('a Hybrid MP4 recording gets one chapter per mark, named by the mark', (t) =>
		withObs({ prepare: (home) => setRecordFormat(home, 'hybrid_mp4') }, async (h) => {
			if (!(await call(t, h, 'GetStatus'))) return;
			await H.startRecord(h);
			const labels = ['first topic', 'ゲスト登場', 'a "quoted" ending'];
			if (!(await pressMarks(t, h, labels))) return;
			const status = await H.vendor(h.obs, 'GetStatus');
			assert.equal(status.record_chapters_added, labels.length, 'GetStatus counts the chapters');
			await H.sleep(1500); // keep the last chapter inside the recorded time
			const stopped = await H.stopRecord(h);
			const file = stopped.data.outputPath;
			assert.match(file, /\.mp4$/, `recorded as MP4: ${file}`);
			const chapters = ffprobeChapters(file);
			// OBS puts its own "Start" at 0:00 in front when the first chapter comes later than that.
			const titles = chapters.map((c) => c.tags?.title);
			const lead = titles[0] === 'Start' ? 1 : 0;
			if (lead) assert.equal(Number(chapters[0].start_time), 0, 'OBS\'s own chapter is at 0:00');
			assert.deepEqual(titles.slice(lead), labels, 'one chapter per mark, in order, named by the mark');
			const ours = chapters.slice(lead);
			const starts = ours.map((c) => Number(c.start_time));
			assert.deepEqual(starts, [...starts].sort((a, b) => a - b), 'chapter times ascend');
			assert.equal(countOf(H.allLogText(h.home), CHAPTER_WARNING), 0, 'no chapter warning with Hybrid MP4');
		}));

	it('a fragmented MP4 recording warns once per recording that chapters are unavailable; its replays keep OBS\'s remux', (t) =>
		withObs({ prepare: (home) => (setRecordFormat(home, 'fragmented_mp4'), setAutoRemux(home)) }, async (h) => {
			if (!(await call(t, h, 'GetStatus'))) return;
			// OBS remuxes a fragmented MP4 replay into "name.remuxed.mp4" after the saved event, opening
			// the file by the name it reported.
			await H.startBuffer(h);
			await H.sleep(1500);
			const from = h.events.mark();
			const press = await H.vendor(h.obs, 'Press', { label: 'remuxed' });
			assert.equal(press.ok, true, press.error);
			const saved = await h.events.waitObs('ReplayBufferSaved', { from });
			assert.match(saved.data.savedReplayPath, /\.mp4$/);
			const copyOf = (file) => file.replace(/\.mp4$/, '.remuxed.mp4');
			const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
			await H.waitFor(async () => {
				const s = await H.vendor(h.obs, 'GetSession', { session_id: sid });
				const file = s.entries.find((e) => e.id === press.entry_id)?.clip?.path;
				return file && fs.existsSync(file) && fs.existsSync(copyOf(file)) && fs.statSync(copyOf(file)).size > 0;
			}, { timeout: 10000, what: "OBS's remuxed copy beside the clip" });
			const end = await H.vendor(h.obs, 'EndFreeSession');
			assert.equal(end.ok, true, end.error);

			await H.startRecord(h);
			if (!(await pressMarks(t, h, ['one', 'two', 'three']))) return;
			assert.equal((await H.vendor(h.obs, 'GetStatus')).record_chapters_added, 0);
			await H.waitFor(() => countOf(H.latestLogText(h.home), CHAPTER_WARNING) >= 1, { what: 'the chapter warning' });
			await H.sleep(500);
			assert.equal(countOf(H.latestLogText(h.home), CHAPTER_WARNING), 1, 'one warning for three marks');
			await H.stopRecord(h);

			await H.startRecord(h);
			await pressMarks(t, h, ['four', 'five']);
			await H.waitFor(() => countOf(H.latestLogText(h.home), CHAPTER_WARNING) >= 2, { what: 'the second recording\'s warning' });
			await H.sleep(500);
			assert.equal(countOf(H.latestLogText(h.home), CHAPTER_WARNING), 2, 'once more for the second recording');
			await H.stopRecord(h);
		}));

	it('the dock is added by id, docks itself on the right on the first run, and only then', () =>
		withObs({}, async (h) => {
			const configJson = path.join(h.home.pluginConfig, 'config.json');
			await H.waitFor(() => fs.existsSync(configJson) && H.readJson(configJson).dock_shown === true, {
				timeout: 15000,
				what: 'dock_shown in config.json',
			});
			assert.equal((await h.stop()).clean, true);
			const state = savedDockState(h.home);
			assert.ok(state, 'OBS saved its dock state');
			const docks = docksInState(state.value);
			const dock = docks.find((d) => d.name === DOCK_ID);
			assert.ok(dock, `a dock named by the id ${DOCK_ID} in ${JSON.stringify(docks)}`);
			assert.deepEqual({ area: dock.area, visible: dock.visible, floating: dock.floating }, { area: 1, visible: true, floating: false });

			// The user closes the dock; the next start must leave it closed.
			const bytes = Buffer.from(state.value, 'base64');
			bytes[dock.flagsAt] &= ~1;
			fs.writeFileSync(state.file, state.text.replace(state.value, bytes.toString('base64')));
			await h.restart();
			await H.sleep(1000);
			assert.equal((await h.stop()).clean, true);
			const later = docksInState(savedDockState(h.home).value).find((d) => d.name === DOCK_ID);
			assert.ok(later, 'the dock is still known to OBS');
			assert.equal(later.visible, false, 'a closed dock stays closed on the next start');
			assert.equal(H.readJson(configJson).dock_shown, true);
			assert.equal(countOf(H.allLogText(h.home), H.loadedLine()), 2);
		}));
});

describe('newer host: OBS 31.1 canvases', { skip: canvasSkip, timeout: 300000 }, () => {
	it('a scene of the main canvas takes the replay and recap scenes and can be an ignored scene', (t) =>
		withObs({}, async (h) => {
			const { canvases } = await h.obs.call('GetCanvasList');
			const main = canvases.find((c) => c.canvasFlags?.MAIN);
			assert.ok(main, `a main canvas in ${JSON.stringify(canvases)}`);
			const stage = 'Main canvas stage';
			const names = { replay_scene: 'Canvas Replay', replay_media: 'Canvas Replay Media', recap_scene: 'Canvas Recap', recap_media: 'Canvas Recap Media', recap_text: 'Canvas Recap Memo' };
			if (!(await call(t, h, 'SetConfig', { ...names, ignore_scenes: [{ name: stage }], scene_marks: true, marks_start: false }))) return;
			await h.obs.call('CreateScene', { sceneName: stage, canvasUuid: main.canvasUuid });
			await program(h, stage);

			const replay = await H.vendor(h.obs, 'SetupReplayScene', { add_to_current: true });
			assert.equal(replay.ok, true, replay.error);
			const recap = await H.vendor(h.obs, 'SetupRecapScene', { add_to_current: true });
			assert.equal(recap.ok, true, recap.error);
			const items = (await h.obs.call('GetSceneItemList', { sceneName: stage })).sceneItems.map((i) => i.sourceName);
			assert.ok(items.includes(names.replay_scene) && items.includes(names.recap_scene), `placed into ${stage}: ${items}`);
			const scenes = (await h.obs.call('GetSceneList', { canvasUuid: main.canvasUuid })).scenes.map((x) => x.sceneName);
			for (const n of [stage, names.replay_scene, names.recap_scene]) assert.ok(scenes.includes(n), `${n} in the main canvas: ${scenes}`);
			// The placement is found by the walk over the canvases, once although the main canvas is
			// also among the enumerated ones.
			assert.equal((await H.vendor(h.obs, 'GetStatus')).replay_placed, 1);
			const again = await H.vendor(h.obs, 'SetupReplayScene', { add_to_current: true });
			assert.equal(again.ok, false, 'the scene already holds the replay scene');
			assert.notEqual(again.error, '');
			assert.equal((await H.vendor(h.obs, 'GetStatus')).replay_placed, 1, 'nothing placed twice');

			await H.startRecord(h);
			const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
			assert.notEqual(sid, '');
			for (const name of [H.SCENES[1], stage, H.SCENES[0]]) {
				await H.sleep(300);
				await program(h, name);
			}
			await H.sleep(300);
			const s = await H.vendor(h.obs, 'GetSession', { session_id: sid });
			assert.deepEqual(
				s.entries.filter((e) => e.kind === 1).map((e) => e.label),
				[H.SCENES[1], H.SCENES[0]],
				'the ignored scene of the main canvas gave no scene mark',
			);
			await H.stopRecord(h);
		}));
});
