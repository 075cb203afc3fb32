// What the three lists of a session must hold, built independently from the session JSON that
// "GetSession" returns, with the en-US texts the plug-in ships.
import path from 'node:path';

export const TEXTS = {
	word: 'Lumark',
	kinds: ['Start', 'Scene', 'Lumark', 'External', 'Saved in OBS', 'Song', 'Topic'],
	csvHeader: 'No.,Kind,Archive time,Clip start,Clip end,Name or memo,File,Chapter',
	yes: 'yes',
	no: 'no',
	title: 'Lumark list (%1)',
	archive: 'Archive: %1',
	shift: "The archive's 0:00 is %1 after the start of the stream.",
	range: 'clip %1 to %2',
	file: 'File: %1',
	noFile: 'File: none',
	beforeCut: 'before 0:00',
	empty: 'No Lumarks.',
	fileTimestamps: 'timestamps',
	fileList: 'list',
	fileNotes: 'clip notes',
};

const pad = (n) => String(n).padStart(2, '0');
const fill = (tpl, a = '', b = '') => tpl.replace(/%1/g, () => a).replace(/%2/g, () => b);

export function formatOffset(ms) {
	const s = Math.trunc(Math.max(0, ms) / 1000);
	if (s < 3600) return `${pad(Math.trunc(s / 60))}:${pad(s % 60)}`;
	return `${Math.trunc(s / 3600)}:${pad(Math.trunc(s / 60) % 60)}:${pad(s % 60)}`;
}

export function formatOffsetForFile(ms) {
	const s = Math.trunc(Math.max(0, ms) / 1000);
	return `${Math.trunc(s / 3600)}-${pad(Math.trunc(s / 60) % 60)}-${pad(s % 60)}`;
}

export const pressLabel = (n) => `${TEXTS.word}${pad(n)}`;
export const kindName = (k) => TEXTS.kinds[k] ?? '';
export const isBlank = (t) => /^[ \t\r\n]*$/.test(t);
export const fileNameOf = (p) => p.split(/[\\/]/).pop();

export function csvField(t) {
	return /[",\r\n]/.test(t) ? `"${t.replace(/"/g, '""')}"` : t;
}

// Enough of the file-name cleaning for the labels the scenarios use (ASCII and whole characters).
export function sanitizeFileName(text) {
	const map = { '\\': '＼', '/': '／', ':': '：', '*': '＊', '?': '？', '"': '＂', '<': '＜', '>': '＞', '|': '｜' };
	let out = '';
	for (const ch of text) {
		const code = ch.codePointAt(0);
		let piece = code < 32 || code === 127 ? ' ' : map[ch] ?? ch;
		if (piece === ' ' && (out === '' || out.endsWith(' '))) continue;
		if (Buffer.byteLength(out + piece) > 150) break;
		out += piece;
	}
	return out.replace(/[ .]+$/, '');
}

export function clipBaseName(session, entry) {
	const def = entry.kind === 2 ? pressLabel(entry.number) : kindName(entry.kind);
	const label = entry.label === def ? '' : entry.label ?? '';
	let name = `${session.prefix} ${def} ${formatOffsetForFile(entry.t_ms - (session.shift_ms ?? 0))}`;
	if (!isBlank(label)) name += ` ${label}`;
	return sanitizeFileName(name);
}

function archiveTime(session, ms) {
	const a = ms - (session.shift_ms ?? 0);
	return a < 0 ? TEXTS.beforeCut : formatOffset(a);
}

function owner(session, entry) {
	const shared = entry.clip?.shared_with ?? 0;
	return shared ? session.entries.find((e) => e.id === shared) : entry;
}

export function chapterList(session) {
	const rows = [];
	let pending = null;
	for (const e of session.entries) {
		if (!e.chapter) continue;
		const a = e.t_ms - (session.shift_ms ?? 0);
		if (a < 0) {
			pending = e;
			continue;
		}
		if (pending && Math.trunc(a / 1000) > 0) rows.push({ id: pending.id, offset_ms: 0, title: pending.label });
		rows.push({ id: e.id, offset_ms: a, title: e.label });
		pending = null;
	}
	if (pending) rows.push({ id: pending.id, offset_ms: 0, title: pending.label });
	return rows;
}

export function chapterText(session, sep = '\r\n') {
	return chapterList(session)
		.map((r) => `${formatOffset(r.offset_ms)} ${r.title}`)
		.join(sep);
}

export function timestampsText(session) {
	return `${chapterText(session)}\r\n`;
}

export function csvText(session) {
	let out = `${TEXTS.csvHeader}\r\n`;
	for (const e of session.entries) {
		const o = owner(session, e);
		const saved = o && o.clip?.state === 2;
		const fields = [
			e.number > 0 ? String(e.number) : '',
			kindName(e.kind),
			archiveTime(session, e.t_ms),
			saved ? archiveTime(session, o.clip.start_ms) : '',
			saved ? archiveTime(session, o.clip.end_ms) : '',
			e.label ?? '',
			saved ? fileNameOf(o.clip.path ?? '') : '',
			e.chapter ? TEXTS.yes : TEXTS.no,
		];
		out += `${fields.map(csvField).join(',')}\r\n`;
	}
	return out;
}

function videoIdOf(url) {
	const idRun = (s) => (s.match(/^[A-Za-z0-9_-]+/) ?? [''])[0];
	let i = url.indexOf('youtu.be/');
	if (i >= 0) return idRun(url.slice(i + 'youtu.be/'.length));
	if (url.indexOf('youtube.com/') < 0) return '';
	for (const m of ['/live/', '/shorts/', '/embed/', '?v=', '&v=']) {
		i = url.indexOf(m);
		if (i >= 0) return idRun(url.slice(i + m.length));
	}
	return '';
}

export function archiveLink(url, seconds) {
	if (isBlank(url)) return '';
	seconds = Math.max(seconds, 0);
	const id = videoIdOf(url);
	if (id) return `https://youtu.be/${id}?t=${seconds}`;
	const hash = url.indexOf('#');
	const base = hash >= 0 ? url.slice(0, hash) : url;
	const frag = hash >= 0 ? url.slice(hash) : '';
	return `${base}${base.includes('?') ? '&t=' : '?t='}${seconds}${frag}`;
}

export function notesText(session) {
	const shift = session.shift_ms ?? 0;
	const url = session.archive_url ?? '';
	let out = `${fill(TEXTS.title, session.prefix)}\r\n`;
	if (!isBlank(url)) out += `${fill(TEXTS.archive, url)}\r\n`;
	if (shift > 0) out += `${fill(TEXTS.shift, formatOffset(shift))}\r\n`;
	out += '\r\n';
	let blocks = 0;
	for (const e of session.entries) {
		const state = e.clip?.state ?? 0;
		if (!(e.kind === 2 || e.kind === 4 || state !== 0)) continue;
		blocks++;
		const name = e.kind === 2 ? pressLabel(e.number) : kindName(e.kind);
		const o = owner(session, e);
		const saved = o && o.clip?.state === 2;
		let line = name;
		if (!isBlank(e.label ?? '') && e.label !== name) line += ` ${e.label}`;
		line += `  ${archiveTime(session, e.t_ms)}`;
		if (saved) line += `（${fill(TEXTS.range, archiveTime(session, o.clip.start_ms), archiveTime(session, o.clip.end_ms))}）`;
		out += `${line}\r\n`;
		if (!isBlank(url)) out += `  ${archiveLink(url, Math.trunc(((saved ? o.clip.start_ms : e.t_ms) - shift) / 1000))}\r\n`;
		out += `  ${saved ? fill(TEXTS.file, fileNameOf(o.clip.path ?? '')) : TEXTS.noFile}\r\n`;
		out += '\r\n';
	}
	if (!blocks) out += `${TEXTS.empty}\r\n`;
	return out;
}

export function listPaths(session, folder) {
	const base = `${session.prefix} `;
	return {
		timestamps: path.join(folder, `${base}${TEXTS.fileTimestamps}.txt`),
		csv: path.join(folder, `${base}${TEXTS.fileList}.csv`),
		notes: path.join(folder, `${base}${TEXTS.fileNotes}.txt`),
	};
}

// The exact bytes of the three files.
export function expectedLists(session) {
	return {
		timestamps: Buffer.from(timestampsText(session), 'utf8'),
		csv: Buffer.concat([Buffer.from([0xef, 0xbb, 0xbf]), Buffer.from(csvText(session), 'utf8')]),
		notes: Buffer.from(notesText(session), 'utf8'),
	};
}
