// Four clients hammering the vendor, then OBS asked to exit while they keep going.
import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import * as H from './harness.mjs';
import { call } from './common.mjs';

const LOAD_MS = Number(process.env.LUMARK_E2E_LOAD_MS ?? 20000);

// One client's loop: a press, a topic mark and a GetSession per turn, every reply checked.
async function client(port, n, until, stopFlag) {
	const { obs, events } = await H.connectClient(port);
	const made = [];
	const problems = [];
	let turns = 0;
	let lastOkAt = 0;
	let afterStop = 0;
	try {
		while (performance.now() < until()) {
			const tag = `c${n}-${turns}`;
			const p = await H.vendor(obs, 'Press', { mode: 'mark', label: tag });
			if (stopFlag.stopping) afterStop++;
			if (p.ok) made.push({ id: p.entry_id, label: tag });
			else if (!stopFlag.stopping || p.error !== 'shutting down') problems.push(`Press ${tag}: ${JSON.stringify(p)}`);
			const m = await H.vendor(obs, 'AddMark', { kind: 'topic', label: `${tag} topic` });
			if (m.ok) made.push({ id: m.entry_id, label: `${tag} topic` });
			else if (!stopFlag.stopping) problems.push(`AddMark ${tag}: ${JSON.stringify(m)}`);
			const g = await H.vendor(obs, 'GetSession');
			if (!g.ok && !stopFlag.stopping) problems.push(`GetSession: ${JSON.stringify(g)}`);
			if (p.ok) lastOkAt = performance.now();
			turns++;
		}
	} catch (e) {
		// The connection goes away when OBS exits; anything else is a fault.
		if (!stopFlag.stopping) problems.push(`client ${n}: ${e.message}`);
	}
	try {
		obs.disconnect();
	} catch {}
	return { made, problems, turns, events, lastOkAt, afterStop };
}

describe('load and shutdown', { timeout: 180000 }, () => {
	let h;
	after(async () => {
		if (h) await h.close();
	});

	it('four clients for 20 s: every request answered, every event delivered; OBS then exits promptly', async (t) => {
		h = await H.launch();
		if (!(await call(t, h, 'GetStatus'))) return;
		await H.startRecord(h); // marks from outside need a stream or recording session
		const sid = (await H.vendor(h.obs, 'GetStatus')).session_id;
		assert.notEqual(sid, '');

		const stopFlag = { stopping: false };
		let deadline = performance.now() + LOAD_MS;
		const clients = [1, 2, 3, 4].map((n) => client(h.home.port, n, () => deadline, stopFlag));
		await H.sleep(LOAD_MS);
		// Exit while the clients keep sending.
		deadline = performance.now() + 20000;
		stopFlag.stopping = true;
		const stop = await h.stop({ timeout: 15000 });
		deadline = 0;
		const results = await Promise.all(clients);
		const allMade = results.flatMap((r) => r.made);
		t.diagnostic(`${allMade.length} marks from ${results.reduce((a, r) => a + r.turns, 0)} turns; exit took ${Math.round(stop.ms)} ms`);

		assert.equal(stop.clean, true, `OBS exited by itself (${Math.round(stop.ms)} ms)`);
		assert.ok(stop.ms < 15000, `exit took ${Math.round(stop.ms)} ms`);
		for (const r of results) assert.deepEqual(r.problems, []);
		for (const r of results) assert.ok(r.turns > 5, `each client got through (${r.turns} turns)`);

		// Every client saw a "Marked" event for what was answered, each once. The plug-in hands its
		// events to obs-websocket in order (the unit tests pin that), but obs-websocket broadcasts
		// each event from its own thread pool, so two events a moment apart may swap on the wire.
		const ids = new Set(allMade.map((m) => m.id));
		assert.equal(ids.size, allMade.length, 'every mark got its own id');
		for (const r of results) {
			const seen = r.events.vendor('Marked').map((i) => i.data.eventData).filter((d) => d.session_id === sid);
			const order = seen.map((d) => d.entry_id);
			assert.equal(new Set(order).size, order.length, 'no event twice');
			const seenIds = new Set(order);
			const missing = allMade.filter((m) => m.id > 0 && !seenIds.has(m.id) && r.lastOkAt > 0);
			// Events of the last moments before the exit may be cut off with the connection.
			assert.ok(missing.length <= 8, `${missing.length} answered marks without an event`);
		}

		// The session file is complete: ended, and holding every mark that was answered.
		const file = H.readJson(H.sessionFile(h.home, sid));
		assert.notEqual(file.end_wall_ms, 0, 'ended at shutdown');
		const inFile = new Map(file.entries.map((e) => [e.id, e.label]));
		for (const m of allMade) assert.equal(inFile.get(m.id), m.label, `mark ${m.id} in the file`);
		const note = H.checkExit(stop, h.home, { heavyTraffic: true });
		if (note) t.diagnostic(note);
	});
});
