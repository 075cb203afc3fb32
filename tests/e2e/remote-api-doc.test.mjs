// The examples of docs/remote-api.md, taken from the document itself so the two cannot drift: the
// Lua and Python add-mark functions run as OBS scripts, the raw CallVendorRequest message goes over
// a plain WebSocket, and every vendor request example is sent as written.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import WebSocket from 'ws';
import * as H from './harness.mjs';
import { call, getSession } from './common.mjs';

const doc = fs.readFileSync(path.join(H.repoRoot, 'docs', 'remote-api.md'), 'utf8');

// The fenced blocks of one language after a heading line, in order, up to the next heading of the
// same or a higher level.
function blocksUnder(heading, lang) {
	const at = doc.indexOf(`\n${heading}\n`);
	assert.ok(at >= 0, `the document has "${heading}"`);
	const level = heading.match(/^#+/)[0].length;
	const rest = doc.slice(at + heading.length + 2);
	const end = rest.search(new RegExp(`^#{1,${level}} `, 'm'));
	const section = end >= 0 ? rest.slice(0, end) : rest;
	return [...section.matchAll(new RegExp('```' + lang + '\\n([\\s\\S]*?)```', 'g'))].map((m) => m[1]);
}

const SONG = 'Blue Bird';
const TOPIC = 'Q&A: favourite maps';

// The document's functions, plus what a user's script adds around them: a hotkey that calls the
// function and logs its answer.
const luaScript = `${blocksUnder('### OBS Lua script', 'lua')[0]}
function script_load(settings)
    obs.obs_hotkey_register_frontend("lumark_example_lua", "Lumark example: song mark", function(pressed)
        if pressed then
            obs.script_log(obs.LOG_INFO, "example song mark " .. tostring(add_song_mark(${JSON.stringify(SONG)})))
        end
    end)
end
`;
const pythonScript = `${blocksUnder('### OBS Python script', 'python')[0]}
def _on_hotkey(pressed):
    if pressed:
        obs.script_log(obs.LOG_INFO, "example topic mark %d" % add_topic_mark(${JSON.stringify(TOPIC)}))

def script_load(settings):
    obs.obs_hotkey_register_frontend("lumark_example_python", "Lumark example: topic mark", _on_hotkey)
`;

// OBS loads the scripts listed in the scene collection's "scripts-tool" module.
function addScripts(home) {
	const files = { 'lumark-example.lua': luaScript, 'lumark_example.py': pythonScript };
	for (const [name, text] of Object.entries(files)) fs.writeFileSync(path.join(home.root, name), text);
	const file = path.join(home.obsDir, 'basic', 'scenes', 'CI.json');
	const collection = JSON.parse(fs.readFileSync(file, 'utf8'));
	collection.modules['scripts-tool'] = Object.keys(files).map((name) => ({ path: path.join(home.root, name), settings: {} }));
	fs.writeFileSync(file, JSON.stringify(collection));
}

// One obs-websocket message exchange on a raw connection: Hello, Identify, then `text` as it is.
async function rawRequest(port, text) {
	const ws = new WebSocket(`ws://127.0.0.1:${port}`);
	const messages = [];
	let wake = () => {};
	ws.on('message', (data) => {
		messages.push(JSON.parse(data.toString()));
		wake();
	});
	const next = async (op) => {
		const deadline = Date.now() + 15000;
		for (;;) {
			const i = messages.findIndex((m) => m.op === op);
			if (i >= 0) return messages.splice(i, 1)[0];
			if (Date.now() > deadline) throw new Error(`no message with op ${op}`);
			await new Promise((r) => {
				wake = r;
				setTimeout(r, 200);
			});
		}
	};
	try {
		await new Promise((resolve, reject) => {
			ws.once('open', resolve);
			ws.once('error', reject);
		});
		await next(0);
		ws.send(JSON.stringify({ op: 1, d: { rpcVersion: 1 } }));
		await next(2);
		ws.send(text);
		return await next(7);
	} finally {
		ws.close();
	}
}

describe('the examples of docs/remote-api.md in a real OBS', { timeout: 180000 }, () => {
	let h;
	before(async () => {
		h = await H.launch({ prepare: addScripts });
	});
	after(async () => {
		if (h) await h.close();
	});

	it('the Lua and Python add-mark scripts add a song and a topic mark to a running recording', async (t) => {
		if (!(await call(t, h, 'GetStatus'))) return;
		await H.startRecord(h);
		const sid = await H.waitFor(async () => (await H.vendor(h.obs, 'GetStatus')).session_id, { what: 'the recording session' });
		const from = h.events.mark();
		await h.obs.call('TriggerHotkeyByName', { hotkeyName: 'lumark_example_lua' });
		const song = (await h.events.waitVendor('Marked', { from }, (d) => d.kind === 5)).data.eventData;
		await h.obs.call('TriggerHotkeyByName', { hotkeyName: 'lumark_example_python' });
		const topic = (await h.events.waitVendor('Marked', { from }, (d) => d.kind === 6)).data.eventData;
		assert.deepEqual([song.label, song.session_id, topic.label, topic.session_id], [SONG, sid, TOPIC, sid]);
		// Each function returned the id of its mark.
		await H.waitFor(() => H.latestLogText(h.home).includes(`example song mark ${song.entry_id}`), { what: "the Lua script's answer" });
		await H.waitFor(() => H.latestLogText(h.home).includes(`example topic mark ${topic.entry_id}`), { what: "the Python script's answer" });
		await H.stopRecord(h);

		const s = await getSession(h, sid);
		const marks = s.entries.filter((e) => e.kind === 5 || e.kind === 6).map((e) => [e.kind, e.label]);
		assert.deepEqual(marks, [
			[5, SONG],
			[6, TOPIC],
		]);
	});

	it('the raw CallVendorRequest message is answered the way the document shows', async (t) => {
		if (!(await call(t, h, 'GetStatus'))) return;
		const [message, answer] = blocksUnder('## Calling a request', 'json');
		const reply = await rawRequest(h.home.port, message);
		const sent = JSON.parse(message).d;
		assert.equal(reply.d.requestId, sent.requestId);
		assert.equal(reply.d.requestStatus.result, true, JSON.stringify(reply.d.requestStatus));
		const got = reply.d.responseData.responseData;
		assert.deepEqual(Object.keys(got).sort(), Object.keys(JSON.parse(answer)).sort());
		assert.equal(got.ok, true, got.error);
		const s = await getSession(h);
		assert.equal(s.entries.find((e) => e.id === got.entry_id)?.label, sent.requestData.requestData.label);
	});

	it('every request example of the document is answered by the vendor', async (t) => {
		if (!(await call(t, h, 'GetStatus'))) return;
		const examples = blocksUnder('## Requests', 'json').map((text) => JSON.parse(text));
		assert.ok(examples.length >= 5, `${examples.length} examples`);
		for (const ex of examples) {
			assert.equal(ex.vendorName, H.VENDOR);
			// As written: obs-websocket itself refuses malformed calls (e.g. an empty requestData).
			let res;
			try {
				res = await h.obs.call('CallVendorRequest', ex);
			} catch (e) {
				assert.fail(`${ex.requestType} as written: ${e.message}`);
			}
			assert.equal(typeof res.responseData.ok, 'boolean', `${ex.requestType}: ${JSON.stringify(res.responseData)}`);
		}
	});
});
