// A short headless session in a real OBS: presses, a scene switch, a song mark and the session end;
// then it tells where everything went. Run through scripts/demo.sh.
import fs from 'node:fs';
import path from 'node:path';
import * as H from './harness.mjs';

const say = (s = '') => process.stdout.write(`${s}\n`);

async function waitSettled(h, from, ids) {
	for (const id of ids) await h.events.waitVendor('ClipSaved', { from, timeout: 30000 }, (d) => d.entry_id === id);
}

async function main() {
	say('Starting OBS headless with Lumark Button in an isolated home...');
	const h = await H.launch();
	let ok = false;
	try {
		const log = H.latestLogText(h.home).split('\n').find((l) => l.includes('[lumark] plugin loaded'));
		say(log ? `  ${log.trim()}` : '  (the plug-in did not log its load line)');
		let status;
		try {
			status = await H.vendor(h.obs, 'GetStatus');
		} catch (e) {
			say(`The obs-websocket vendor "${H.VENDOR}" does not answer (${e.message}); nothing more to show.`);
			return;
		}
		say(`  replay buffer: ${status.buffer.seconds} s, enabled ${status.buffer.enabled}`);

		await H.startBuffer(h);
		await H.sleep(3000);
		const from = h.events.mark();
		await H.startRecord(h);
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		say(`Recording session ${sid} started.`);
		const presses = [];
		const press = async (label) => {
			const r = await H.vendor(h.obs, 'Press', label ? { label } : undefined);
			if (!r.ok) throw new Error(`press refused: ${r.error}`);
			presses.push(r.entry_id);
			say(`  press ${presses.length}${label ? ` "${label}"` : ''} (entry ${r.entry_id})`);
		};
		await H.sleep(1500);
		await press('Opening joke');
		await H.sleep(2000);
		await h.obs.call('SetCurrentProgramScene', { sceneName: H.SCENES[1] });
		say(`  switched to "${H.SCENES[1]}"`);
		await H.sleep(1500);
		const song = await H.vendor(h.obs, 'AddMark', { kind: 'song', label: 'Demo Song - The Artist' });
		say(`  song mark (entry ${song.entry_id})`);
		await H.sleep(1500);
		await press('');
		await waitSettled(h, from, presses);
		const ended = h.events.mark();
		await H.stopRecord(h);
		await h.events.waitVendor('SessionEnded', { from: ended, timeout: 15000 });
		say('Session ended.');
		await H.sleep(2500); // clip renames and the rewritten lists

		const s = await H.vendor(h.obs, 'GetSession', { session_id: sid });
		const clips = s.entries.filter((e) => e.clip?.state === 2 && e.clip.path).map((e) => e.clip.path);
		const listNames = ['timestamps', 'list', 'clip notes'].map((w) => path.join(s.export_folder, `${s.prefix} ${w}${w === 'list' ? '.csv' : '.txt'}`));
		say();
		say(`Everything is kept in ${h.home.root}`);
		say(`Clips (${clips.length}):`);
		for (const c of clips) say(`  ${c}${fs.existsSync(c) ? '' : '  (missing!)'}`);
		say(`Session file:\n  ${H.sessionFile(h.home, sid)}`);
		say('Lists:');
		for (const f of listNames) say(`  ${f}${fs.existsSync(f) ? '' : '  (missing!)'}`);
		say();
		say('Timestamps list:');
		say(fs.existsSync(listNames[0]) ? fs.readFileSync(listNames[0], 'utf8').replace(/\r\n/g, '\n').trimEnd() : '(not written)');
		ok = true;
	} finally {
		await H.stopObs(h);
		if (!ok) say(`\nOBS log tail:\n${H.tail(h, 30)}`);
	}
}

main().then(
	() => process.exit(0),
	(e) => {
		process.stderr.write(`demo failed: ${e.stack ?? e}\n`);
		process.exit(1);
	},
);
