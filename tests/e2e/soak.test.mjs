// Memory over a long session: a press a second with two clients polling the status and the whole
// session, beside a second OBS without the plug-in doing only its own save every second. Prints
// resident growth per press next to OBS's own per save.
// LUMARK_E2E_SOAK_S sets the length (default 120 s; by hand 720 for the 12-minute figure).
// Runs on OBS 29 (the first host); LUMARK_E2E_SOAK=1 runs it on another host too.
import { describe, it, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import * as H from './harness.mjs';
import { call } from './common.mjs';

const SOAK_S = Number(process.env.LUMARK_E2E_SOAK_S ?? 120);
// Readings start after these seconds: the replay buffer and every kind of reply, file and event
// have been made once, so what follows is growth and not start-up.
const WARMUP = 15;
const firstHost = !process.env.LUMARK_E2E_HOST || process.env.LUMARK_E2E_HOST === 'obs29';
const skip = !firstHost && process.env.LUMARK_E2E_SOAK !== '1' ? 'the soak runs on the first host (LUMARK_E2E_SOAK=1 runs it here)' : false;

function rssKb(pid) {
	const m = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
	assert.ok(m, `resident memory of pid ${pid}`);
	return Number(m[1]);
}

// One client asking for the status and the whole session every 500 ms, as a deck or overlay does.
async function poller(port, stop) {
	const { obs } = await H.connectClient(port);
	const problems = [];
	let polls = 0;
	try {
		while (!stop.now) {
			const next = H.sleep(500);
			const st = await H.vendor(obs, 'GetStatus');
			const s = await H.vendor(obs, 'GetSession');
			if (!st.ok) problems.push(`GetStatus: ${JSON.stringify(st)}`);
			if (!s.ok) problems.push(`GetSession: ${s.error}`);
			else if (polls > 4 && !(s.entries?.length > 0)) problems.push('GetSession without entries');
			polls++;
			await next;
		}
	} finally {
		try {
			obs.disconnect();
		} catch {}
	}
	return { polls, problems };
}

// act(n) on every whole second for `seconds`, resident memory read after each; a slow answer
// delays the next act, it never comes early.
async function rhythm(h, seconds, act) {
	const samples = [];
	const t0 = performance.now();
	for (let n = 0; n < seconds; n++) {
		const wait = t0 + n * 1000 - performance.now();
		if (wait > 0) await H.sleep(wait);
		await act(n);
		samples.push(rssKb(h.obsPid));
	}
	return samples;
}

// Growth as the least-squares slope of the readings after the warm-up: one step of the allocator
// near the end moves it far less than it moves the difference of the first and last reading.
function growth(samples) {
	const ys = samples.slice(WARMUP);
	const mx = (ys.length - 1) / 2;
	const my = ys.reduce((a, b) => a + b, 0) / ys.length;
	let sxy = 0;
	let sxx = 0;
	ys.forEach((y, x) => {
		sxy += (x - mx) * (y - my);
		sxx += (x - mx) ** 2;
	});
	const perKb = sxy / sxx;
	return { kb: perKb * (ys.length - 1), perKb };
}

describe('soak', { timeout: (SOAK_S * 2 + 150) * 1000, skip }, () => {
	const launched = [];
	after(async () => {
		for (const h of launched) await h.close();
	});

	it(`a press a second for ${SOAK_S} s with two clients polling: resident memory grows like OBS's own saves`, async (t) => {
		assert.ok(SOAK_S > WARMUP + 30, 'long enough to measure');
		const [ours, own] = await Promise.all([H.launch(), H.launch({ plugin: false })]);
		launched.push(ours, own);
		if (!(await call(t, ours, 'GetStatus'))) return;
		await Promise.all([H.startBuffer(ours), H.startBuffer(own)]);
		await H.sleep((H.BUFFER_SECONDS + 2) * 1000);

		// The first press starts the free session the clients then poll.
		const first = await H.vendor(ours.obs, 'Press', { label: 'soak start' });
		assert.equal(first.ok, true, first.error);
		const stop = { now: false };
		const pollers = [poller(ours.home.port, stop), poller(ours.home.port, stop)];
		const pressProblems = [];
		const [pressRss, saveRss] = await Promise.all([
			rhythm(ours, SOAK_S, async (n) => {
				const r = await H.vendor(ours.obs, 'Press', { label: `soak ${n}` });
				if (!r.ok) pressProblems.push(`Press ${n}: ${r.error}`);
			}),
			rhythm(own, SOAK_S, () => own.obs.call('SaveReplayBuffer').catch(() => {})),
		]);
		stop.now = true;
		const polled = await Promise.all(pollers);
		// What stays once the last replies are gone and their pages handed back.
		await H.sleep(3000);
		const kept = rssKb(ours.obsPid) - pressRss[WARMUP];
		const session = await H.vendor(ours.obs, 'GetSession');

		const p = growth(pressRss);
		const o = growth(saveRss);
		const mb = (kb) => (kb / 1024).toFixed(1);
		// One figure per line, so the hosts' figures line up side by side.
		const lines = [
			`resident memory growth over ${SOAK_S - WARMUP} s after ${WARMUP} s of warm-up:`,
			`  a press a second, 2 clients polling GetStatus+GetSession (MB)   ${mb(p.kb)}`,
			`  the same, per press (KB)                                      ${p.perKb.toFixed(1)}`,
			`  OBS without the plug-in, SaveReplayBuffer a second (MB)       ${mb(o.kb)}`,
			`  the same, per save (KB)                                       ${o.perKb.toFixed(1)}`,
			`  the first OBS 3 s after the clients stopped polling (MB)      ${mb(kept)}`,
		];
		t.diagnostic(lines.join('\n'));
		if (process.env.LUMARK_E2E_REPORT) fs.appendFileSync(process.env.LUMARK_E2E_REPORT, `${lines.join('\n')}\n`);

		assert.deepEqual(pressProblems, []);
		for (const r of polled) assert.deepEqual(r.problems, []);
		for (const r of polled) assert.ok(r.polls >= SOAK_S, `each client polled every 500 ms or so (${r.polls})`);
		assert.ok(session.entries.length >= SOAK_S, `every press is in the session (${session.entries.length})`);
		// Over two minutes the allocator moves both figures by 10-25 KB per press from run to run (a
		// press has read 4-18 KB against OBS's own 17-20), so the bound leaves that much room; a reply
		// kept per poll (four a second, tens of KB each at this session size) is far above it.
		assert.ok(p.perKb - o.perKb < 30, `${p.perKb.toFixed(1)} KB per press against ${o.perKb.toFixed(1)} KB per save of OBS alone`);
	});
});
