// The packages as a user installs them, each into a fresh OBS home that has no per-user plug-in,
// inside a throwaway copy of the host's Debian (run by scripts/package.sh HOST test): the plug-in
// loads from where the package put it, answers GetStatus, and leaves no file behind when removed.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import * as H from '../harness.mjs';

const root = process.env.LUMARK_PKG_ROOT;
const deb = process.env.LUMARK_PKG_DEB;
const tarball = process.env.LUMARK_PKG_TARBALL;
if (!root || !deb || !tarball) throw new Error('run through scripts/package.sh HOST test');

// Where Debian's obs-studio keeps its own plug-ins and their data.
const SYSTEM_SO = `/usr/lib/x86_64-linux-gnu/obs-plugins/${H.MODULE}.so`;
const SYSTEM_DATA = `/usr/share/obs/obs-plugins/${H.MODULE}`;

const inside = (p) => path.join(root, p);

function inRoot(...args) {
	return execFileSync(
		'chroot',
		[root, '/usr/bin/env', '-i', 'PATH=/usr/sbin:/usr/bin:/sbin:/bin', 'HOME=/root', 'LANG=C.UTF-8', 'DEBIAN_FRONTEND=noninteractive', ...args],
		{ encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] },
	);
}

// The plug-in files OBS has mapped, as paths inside the host's Debian.
function mappedModules(pid) {
	const files = new Set();
	for (const line of fs.readFileSync(`/proc/${pid}/maps`, 'utf8').split('\n')) {
		const at = line.indexOf('/');
		if (at >= 0 && path.basename(line.slice(at).trim()) === `${H.MODULE}.so`) files.add(line.slice(at).trim());
	}
	return [...files].map((f) => (f.startsWith(`${root}/`) ? f.slice(root.length) : f));
}

// Starts OBS on the home and checks that exactly one copy of the plug-in, `so`, loaded with its
// texts and answers; then stops OBS and checks its exit and the unload.
async function loadsFrom(home, so) {
	const h = await H.startObs(home);
	let stop;
	try {
		await H.waitFor(() => H.latestLogText(home).includes(H.loadedLine()), { what: 'the loaded line', timeout: 15000 });
		assert.deepEqual(mappedModules(h.obsPid), [so], 'one copy of the plug-in, the installed one');
		assert.doesNotMatch(H.latestLogText(home), new RegExp(`Failed to load '.*' text for module: '${H.MODULE}'`));
		const st = await H.vendor(h.obs, 'GetStatus');
		assert.equal(st.ok, true);
		assert.equal(st.session_id, '');
	} finally {
		stop = await H.stopObs(h);
	}
	assert.equal(stop.clean, true, 'OBS exited by itself');
	H.checkExit(stop, home);
}

describe(`packages for ${process.env.LUMARK_PKG_HOST ?? 'this host'}`, { timeout: 240000 }, () => {
	it('the tarball unpacked into ~/.config/obs-studio/plugins loads from there', async () => {
		assert.equal(fs.existsSync(inside(SYSTEM_SO)), false, 'no system-wide copy in this Debian');
		const home = await H.createHome();
		try {
			const plugins = path.join(home.obsDir, 'plugins');
			fs.mkdirSync(plugins, { recursive: true });
			execFileSync('tar', ['-xzf', tarball, '-C', plugins]);
			assert.deepEqual(fs.readdirSync(plugins), [H.MODULE], 'one folder, nothing else');
			await loadsFrom(home, path.join(plugins, H.MODULE, 'bin', '64bit', `${H.MODULE}.so`));
		} finally {
			H.removeTempDir(home.root);
		}
	});

	it("the .deb installs next to OBS's own plug-ins, loads from there, and apt-get remove takes every file", async () => {
		const home = await H.createHome();
		try {
			assert.equal(fs.existsSync(path.join(home.obsDir, 'plugins')), false, 'no per-user plug-in');
			inRoot('apt-get', 'install', '-y', '-q', '--no-install-recommends', deb);
			const files = inRoot('dpkg-query', '-L', H.MODULE).split('\n').filter((f) => f && f !== '/.');
			for (const f of [SYSTEM_SO, `${SYSTEM_DATA}/locale/en-US.ini`, `${SYSTEM_DATA}/locale/ja-JP.ini`, `/usr/share/doc/${H.MODULE}/copyright`])
				assert.ok(files.includes(f), `the package has ${f}`);
			await loadsFrom(home, SYSTEM_SO);

			inRoot('apt-get', 'remove', '-y', '-q', H.MODULE);
			const left = files.filter((f) => fs.existsSync(inside(f)) && (f.includes(H.MODULE) || !fs.statSync(inside(f)).isDirectory()));
			assert.deepEqual(left, [], 'nothing of the package is left');
			// dpkg forgets a removed package without configuration files, or keeps it as "un".
			let status = '';
			try {
				status = inRoot('dpkg-query', '-W', '-f', '${db:Status-Abbrev}', H.MODULE).trim();
			} catch {}
			assert.ok(['', 'un'].includes(status), `package state "${status}": not installed, no configuration left`);
		} finally {
			H.removeTempDir(home.root);
		}
	});
});
