#!/usr/bin/env node
// Minimal obs-websocket 5 client with no dependencies: handshake, Identify, GetVersion and, when
// the plug-in's vendor is registered, its GetStatus. Prints one JSON line and exits 0 when the
// server identified us and GetVersion answered; exits 1 otherwise.
//
//   node ws-check.mjs PORT [EXPECTED_OBS_VERSION_PREFIX] [TIMEOUT_MS]
import net from 'node:net';
import crypto from 'node:crypto';

const port = Number(process.argv[2]);
const expectVersion = process.argv[3] || '';
const timeoutMs = Number(process.argv[4] || 5000);
if (!Number.isInteger(port) || port <= 0 || port > 65535) {
  console.error('usage: ws-check.mjs PORT [EXPECTED_OBS_VERSION_PREFIX] [TIMEOUT_MS]');
  process.exit(2);
}

function frame(text) {
  // Client frames must be masked.
  const payload = Buffer.from(text, 'utf8');
  const mask = crypto.randomBytes(4);
  let header;
  if (payload.length < 126) {
    header = Buffer.from([0x81, 0x80 | payload.length]);
  } else if (payload.length < 65536) {
    header = Buffer.alloc(4);
    header[0] = 0x81;
    header[1] = 0x80 | 126;
    header.writeUInt16BE(payload.length, 2);
  } else {
    header = Buffer.alloc(10);
    header[0] = 0x81;
    header[1] = 0x80 | 127;
    header.writeBigUInt64BE(BigInt(payload.length), 2);
  }
  const masked = Buffer.alloc(payload.length);
  for (let i = 0; i < payload.length; i++) masked[i] = payload[i] ^ mask[i % 4];
  return Buffer.concat([header, mask, masked]);
}

// Pulls complete text frames off the front of buf; returns [messages, rest].
function parseFrames(buf) {
  const out = [];
  for (;;) {
    if (buf.length < 2) break;
    const opcode = buf[0] & 0x0f;
    let len = buf[1] & 0x7f;
    let off = 2;
    if (len === 126) {
      if (buf.length < 4) break;
      len = buf.readUInt16BE(2);
      off = 4;
    } else if (len === 127) {
      if (buf.length < 10) break;
      len = Number(buf.readBigUInt64BE(2));
      off = 10;
    }
    if (buf[1] & 0x80) off += 4; // servers never mask, but stay correct
    if (buf.length < off + len) break;
    const body = buf.subarray(off, off + len);
    buf = buf.subarray(off + len);
    if (opcode === 0x1) out.push(JSON.parse(body.toString('utf8')));
    else if (opcode === 0x8) out.push({ closed: true, code: body.length >= 2 ? body.readUInt16BE(0) : 0 });
  }
  return [out, buf];
}

const result = { port, ok: false };
const sock = net.connect({ host: '127.0.0.1', port });
const timer = setTimeout(() => finish('timeout'), timeoutMs);
let buf = Buffer.alloc(0);
let upgraded = false;
const key = crypto.randomBytes(16).toString('base64');

function finish(error) {
  clearTimeout(timer);
  if (error) result.error = error;
  console.log(JSON.stringify(result));
  sock.destroy();
  process.exit(result.ok && !error ? 0 : 1);
}

function send(obj) {
  sock.write(frame(JSON.stringify(obj)));
}

sock.on('connect', () => {
  sock.write(
    `GET / HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n` +
      `Sec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n` +
      `Sec-WebSocket-Protocol: obswebsocket.json\r\n\r\n`,
  );
});
sock.on('error', (e) => finish(e.code || String(e)));
sock.on('close', () => finish(result.ok ? undefined : 'closed'));
sock.on('data', (chunk) => {
  buf = Buffer.concat([buf, chunk]);
  if (!upgraded) {
    const end = buf.indexOf('\r\n\r\n');
    if (end < 0) return;
    const head = buf.subarray(0, end).toString('latin1');
    if (!/^HTTP\/1\.1 101/.test(head)) return finish(`no upgrade: ${head.split('\r\n')[0]}`);
    upgraded = true;
    buf = buf.subarray(end + 4);
  }
  let msgs;
  [msgs, buf] = parseFrames(buf);
  for (const m of msgs) handle(m);
});

function handle(m) {
  if (m.closed) return finish(`server closed ${m.code}`);
  switch (m.op) {
    case 0: // Hello
      result.obsWebSocketVersion = m.d.obsWebSocketVersion;
      if (m.d.authentication) return finish('server wants a password');
      send({ op: 1, d: { rpcVersion: 1, eventSubscriptions: 0 } });
      break;
    case 2: // Identified
      send({ op: 6, d: { requestType: 'GetVersion', requestId: 'v' } });
      break;
    case 7: // RequestResponse
      if (m.d.requestId === 'v') {
        if (!m.d.requestStatus.result) return finish('GetVersion failed');
        result.obsVersion = m.d.responseData.obsVersion;
        if (expectVersion && !String(result.obsVersion).startsWith(expectVersion)) {
          return finish(`expected OBS ${expectVersion}, got ${result.obsVersion}`);
        }
        result.ok = true;
        send({
          op: 6,
          d: {
            requestType: 'CallVendorRequest',
            requestId: 's',
            requestData: { vendorName: 'kelvaro-lumark', requestType: 'GetStatus' },
          },
        });
      } else if (m.d.requestId === 's') {
        // The vendor is optional here: report what it said without failing the check.
        result.vendor = m.d.requestStatus.result
          ? { ok: true, responseData: m.d.responseData.responseData }
          : { ok: false, code: m.d.requestStatus.code, comment: m.d.requestStatus.comment };
        finish();
      }
      break;
    default:
      break;
  }
}
