'use strict';
// The tool server against a hostile client and a hostile tree, each case
// driven through the SDK's client and through raw pipes: misspelt keys,
// huge lines, a message past the limit, bytes that are not JSON, a client
// that stops in the middle of a 10,000-file batch, 40 searches at once, and
// a `..` after a link.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const { RawSession, call, startServer, tempDir, withoutVersion, writeTree } = require('./mcp_support');

const MiB = 1024 * 1024;
// What a reply may take: far below the 10 MiB a client reads of one message.
const MAX_REPLY = 2 * MiB;

/** The two ways to the server: `run(session => ...)` with each, given the same ROOT arguments. */
const ways = [
  ['the SDK\'s client', async (args, work) => {
    const client = await startServer(args);
    try {
      return await work({ call: (name, a) => call(client, name, a), client });
    } finally {
      await client.close();
    }
  }],
  ['raw pipes', async (args, work) => {
    const raw = new RawSession(args);
    try {
      await raw.initialize();
      return await work({ call: (name, a) => raw.call(name, a), raw });
    } finally {
      await raw.close();
    }
  }],
];

test('misspelt keys are refused by name and nothing is written', async () => {
  const root = tempDir('qg-mcp-keys-');
  writeTree(root, { 'a.txt': 'L1\nL2\nL3\n' });
  const rows = [
    ['batch_edit', { edits: [{ path: 'a.txt', strat_line: 2, new_txt: 'X' }] },
      /Unrecognized keys: "strat_line", "new_txt"/],
    ['replace_lines', { path: 'a.txt', start_line: 1, end_line: 1, new_text: 'x', expected_txt: 'zzz' },
      /Unrecognized key: "expected_txt"/],
    ['edit', { path: 'a.txt', old_text: 'L1', new_text: 'x', dryrun: true }, /Unrecognized key: "dryrun"/],
    ['search', { pattern: 'L', contxt: 2 }, /Unrecognized key: "contxt"/],
    ['read_lines', { path: 'a.txt', start: 2 }, /Unrecognized key: "start"/],
    ['batch_edit', { edits: [{ path: 'a.txt', start_line: 1, end_line: 1, new_text: 'x' }], dryRun: true },
      /Unrecognized key: "dryRun"/],
  ];
  for (const [way, run] of ways) {
    await run([root], async (s) => {
      for (const [name, args, message] of rows) {
        const r = await s.call(name, args);
        assert.strictEqual(r.isError, true, `${way} ${name}`);
        assert.match(r.text, message, `${way} ${name}`);
      }
    });
  }
  assert.strictEqual(fs.readFileSync(path.join(root, 'a.txt'), 'utf8'), 'L1\nL2\nL3\n');
  fs.rmSync(root, { recursive: true, force: true });
});

test('huge lines and huge results are answered within the caps', async (t) => {
  const root = tempDir('qg-mcp-huge-');
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const half = 'a'.repeat(50 * MiB);
  fs.writeFileSync(path.join(root, 'one-line.txt'), `${half}needle${half}\n`);
  const mebibyteLine = `${'a'.repeat(MiB)}\n`;
  writeTree(root, { 'wide30/w.txt': mebibyteLine.repeat(30), 'wide200/w.txt': mebibyteLine.repeat(200) });
  for (const [way, run] of ways) {
    await run([root], async (s) => {
      const read = await s.call('read_lines', { path: 'one-line.txt' });
      assert.strictEqual(read.isError, false, way);
      assert.ok(read.text.length < 8192, `${way}: ${read.text.length}`);
      const length = 100 * MiB + 'needle'.length;
      assert.ok(read.text.startsWith(`1: ${'a'.repeat(2000)} [… ${length - 2000} more characters]\n` +
        '(Line 1 is longer than 2000 characters and cut here'), read.text.slice(2000));

      const found = await s.call('search', { pattern: 'needle', path: 'one-line.txt' });
      assert.strictEqual(found.isError, false, way);
      const shown = found.structured.matches[0].text;
      // A window of 2,000 bytes centred on the match, as the library prints it.
      const before = 50 * MiB - (2000 - 'needle'.length) / 2;
      assert.strictEqual(shown, `[... ${before} bytes] ${'a'.repeat(997)}needle${'a'.repeat(997)} ` +
        `[... ${length - before - 2000} bytes]`);
      assert.ok(shown.length < 2100, `${way}: ${shown.length}`);
      assert.match(found.text, /^one-line\.txt:1:52428801:\[\.\.\. /);

      for (const folder of ['wide30', 'wide200']) {
        const r = await s.call('search', { pattern: 'a', path: folder, context: 10 });
        assert.strictEqual(r.isError, false, `${way} ${folder}`);
        assert.ok(r.structured.matches.length > 0, `${way} ${folder}`);
        for (const m of r.structured.matches) assert.ok(m.text.length < 2100);
        assert.match(r.text, /\n\d+ match(es)? in 1 file( shown; more exist\.|\n|$)/, `${way} ${folder}`);
        if (s.raw) assert.ok(r.bytes < MAX_REPLY, `${way} ${folder}: ${r.bytes} bytes`);
        const size = Buffer.byteLength(JSON.stringify(r));
        assert.ok(size < MAX_REPLY, `${way} ${folder}: ${size} bytes`);
      }
    });
  }
});

test('a message past the limit is refused and the server answers the next call', async () => {
  const root = tempDir('qg-mcp-big-');
  writeTree(root, { 'a.txt': 'L1\n' });
  const big = { edits: [{ path: 'a.txt', start_line: 1, end_line: 1, new_text: 'x'.repeat(11e6) }] };
  const refused = /Message of 110\d{5} bytes refused: the most this server reads is 10485760 bytes/;
  for (const [way, run] of ways) {
    await run([root], async (s) => {
      if (s.client) {
        await assert.rejects(s.client.callTool({ name: 'batch_edit', arguments: big }),
          (error) => error.code === -32600 && refused.test(error.message));
      } else {
        const id = 7000;
        s.raw.send({ jsonrpc: '2.0', method: 'tools/call', params: { name: 'batch_edit', arguments: big }, id });
        const { message } = await s.raw.reply(id);
        assert.strictEqual(message.error.code, -32600, way);
        assert.match(message.error.message, refused);
        // Bytes that are not JSON, and JSON that is no message.
        s.raw.send('this is not json\n{"jsonrpc":"2.0","id":7001,"params":5}\n');
        const notMessage = await s.raw.reply(7001);
        assert.strictEqual(notMessage.message.error.code, -32600);
        const parse = s.raw.replies.find((r) => r.message.id === null && r.message.error.code === -32700);
        assert.ok(parse, JSON.stringify(s.raw.replies.map((r) => r.message)));
      }
      const next = await s.call('read_lines', { path: 'a.txt' });
      assert.deepStrictEqual([next.isError, withoutVersion(next.text)], [false, '1: L1'], way);
    });
  }
  fs.rmSync(root, { recursive: true, force: true });
});

/** 10,000 files of three lines in ten folders, and the batch that replaces line 2 of each. */
function thousandsOfFiles(root) {
  const names = [];
  for (let d = 0; d < 10; ++d) fs.mkdirSync(path.join(root, `d${d}`));
  for (let i = 0; i < 10000; ++i) {
    const name = `d${i % 10}/f${String(i).padStart(5, '0')}.txt`;
    names.push(name);
    fs.writeFileSync(path.join(root, name), OLD);
  }
  return { names, batch: { edits: names.map((p) => ({ path: p, start_line: 2, end_line: 2, new_text: 'NEW' })) } };
}

const OLD = 'L1\nL2\nL3\n';
const NEW = 'L1\nNEW\nL3\n';

/**
 * Every file old or new, no temporary file left, the log naming exactly the
 * new ones; then every file old again for the next case.
 */
function checkInterrupted(root, names, log) {
  const written = new Set([...log.matchAll(/^quenmar-grep-mcp: wrote (.*)$/gm)].map((m) => m[1]));
  const changed = new Set();
  for (const name of names) {
    const text = fs.readFileSync(path.join(root, name), 'utf8');
    assert.ok(text === OLD || text === NEW, `${name}: ${JSON.stringify(text)}`);
    if (text === NEW) changed.add(path.join(root, name));
  }
  for (let d = 0; d < 10; ++d) {
    const left = fs.readdirSync(path.join(root, `d${d}`)).filter((n) => n.includes('.qgtmp-'));
    assert.deepStrictEqual(left, [], `d${d}`);
  }
  assert.deepStrictEqual([...written].sort(), [...changed].sort());
  assert.ok(changed.size > 0 && changed.size < names.length, `${changed.size} files written`);
  assert.match(log, /stopped a batch of 10000 files after \d+ files? written; the others were left as they were/);
  for (const file of changed) fs.writeFileSync(file, OLD);
}

test('a client that stops in the middle of a 10,000-file batch', async (t) => {
  const root = tempDir('qg-mcp-batch-');
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  const { names, batch } = thousandsOfFiles(root);

  await t.test('the SDK\'s client gives up after 1 s and closes', async () => {
    const client = await startServer([root]);
    await assert.rejects(client.callTool({ name: 'batch_edit', arguments: batch }, undefined, { timeout: 1000 }),
      /timed out/i);
    await client.close();
    checkInterrupted(root, names, client.stderr());
  });

  for (const signal of ['SIGTERM', 'SIGINT']) {
    await t.test(`${signal} on raw pipes`, async () => {
      const raw = new RawSession([root]);
      await raw.initialize();
      raw.send({ jsonrpc: '2.0', id: 99, method: 'tools/call', params: { name: 'batch_edit', arguments: batch } });
      await new Promise((resolve) => setTimeout(resolve, 800));
      const sent = Date.now();
      raw.child.kill(signal);
      assert.deepStrictEqual(await raw.exited, { code: 0, signal: null });
      assert.ok(Date.now() - sent < 1500, `${Date.now() - sent} ms to stop`);
      assert.ok(!raw.replies.some((r) => r.message.id === 99), 'the interrupted batch is not reported');
      checkInterrupted(root, names, raw.log);
      assert.match(raw.log, new RegExp(`stopping \\(${signal}\\)`));
    });
  }
});

test('a read is answered within its limit while 40 searches run', async (t) => {
  const root = tempDir('qg-mcp-busy-');
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  writeTree(root, { 'slow/a.txt': `${'a'.repeat(300000)}\n`.repeat(4), 'small.txt': 'one\ntwo\n' });
  const limit = 2000;
  for (const [way, run] of ways) {
    await run(['--timeout', String(limit), root], async (s) => {
      const sent = Date.now();
      const searches = Array.from({ length: 40 }, () => s.call('search',
        { pattern: '\\w{1000}\\d', regex: true, path: 'slow' }).then((r) => ({ r, ms: Date.now() - sent })));
      await new Promise((resolve) => setTimeout(resolve, 200));
      const asked = Date.now();
      const read = await s.call('read_lines', { path: 'small.txt' });
      const readMs = Date.now() - asked;
      assert.deepStrictEqual([read.isError, withoutVersion(read.text)], [false, '1: one\n2: two'], way);
      assert.ok(readMs < limit, `${way}: the read took ${readMs} ms`);
      for (const { r, ms } of await Promise.all(searches)) {
        assert.ok(ms < limit + 1500, `${way}: a search answered after ${ms} ms`);
        if (r.isError) {
          assert.match(r.text, /waited its whole time limit for one of the 4 searches/, way);
        } else {
          assert.strictEqual(r.structured.timed_out, true, way);
        }
      }
    });
  }
});

test('a `..` after a link is taken from the link\'s target, as the system takes it', async (t) => {
  const root = tempDir('qg-mcp-dotdot-');
  const outside = tempDir('qg-mcp-dotdot-out-');
  t.after(() => {
    fs.rmSync(root, { recursive: true, force: true });
    fs.rmSync(outside, { recursive: true, force: true });
  });
  writeTree(outside, { 'secret.txt': 'outside secret\n', 'sub/keep.txt': 'k\n' });
  writeTree(root, { 'secret.txt': 'inside\n', 'x.txt': 'top x\n', 'deep/x.txt': 'deep x\n', 'deep/er/y.txt': 'y\n' });
  fs.symlinkSync(path.join(outside, 'sub'), path.join(root, 'outlink'));
  fs.symlinkSync(path.join(root, 'deep', 'er'), path.join(root, 'inlink'));
  for (const [way, run] of ways) {
    await run([root], async (s) => {
      const given = 'outlink/../secret.txt';
      const denied = `Access denied: '${given}' is outside the allowed roots`;
      for (const [name, args] of [
        ['read_lines', { path: given }],
        ['search', { pattern: 'secret', path: given }],
        ['edit', { path: given, old_text: 'secret', new_text: 'x' }],
        ['batch_edit', { edits: [{ path: given, start_line: 1, end_line: 0, new_text: 'x' }] }],
      ]) {
        const r = await s.call(name, args);
        assert.deepStrictEqual([r.isError, r.text], [true, denied], `${way} ${name}`);
      }
      // Inside the root, the same rule reaches the file the system reaches.
      const r = await s.call('read_lines', { path: 'inlink/../x.txt' });
      assert.deepStrictEqual([r.isError, withoutVersion(r.text)], [false, '1: deep x'], way);
      const missing = await s.call('read_lines', { path: 'nothing/../x.txt' });
      assert.strictEqual(missing.isError, true, way);
      assert.match(missing.text, /No such file or directory/);
    });
  }
  assert.strictEqual(fs.readFileSync(path.join(outside, 'secret.txt'), 'utf8'), 'outside secret\n');
});
