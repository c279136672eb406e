'use strict';
// File versions end to end, through the SDK's client on real files: the
// version read_lines reports is the SHA-256 of the file's bytes, every edit
// tool takes it back and refuses, writing nothing, once the file has
// changed, replace_pattern takes it as an expect hash, and a line edit
// starting past the line after the last is refused as read_lines refuses it.
const test = require('node:test');
const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const { call, startServer, tempDir, writeTree } = require('./mcp_support');

const sha256 = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

const root = tempDir('qg-mcp-versions-');
const second = tempDir('qg-mcp-versions-second-');
let client;
test.before(async () => {
  client = await startServer([root, second]);
});
test.after(async () => {
  await client.close();
});

/** The version read_lines reports for `file`, after checking its text and structured forms agree. */
async function versionOf(file) {
  const r = await call(client, 'read_lines', { path: file });
  assert.strictEqual(r.isError, false, r.text);
  const m = /\(Version ([0-9a-f]{64}): give it as expected_version to an edit/.exec(r.text.split('\n').at(-1));
  assert.ok(m, r.text);
  assert.strictEqual(r.structured.version, m[1]);
  return m[1];
}

test('read_lines reports the SHA-256 of the file\'s bytes, as text and as structured content', async () => {
  writeTree(root, { 'v/crlf.txt': 'one\r\ntwo\r\nthree\r\n', 'v/empty.txt': '' });
  writeTree(second, { 'far.txt': 'far\n' });
  fs.writeFileSync(path.join(root, 'v/utf16.txt'), Buffer.concat([Buffer.from([0xff, 0xfe]),
    Buffer.from('wide\n', 'utf16le')]));
  const rows = [
    ['v/crlf.txt', { start_line: 2, end_line: 2 }, '2: two', { path: 'v/crlf.txt', start_line: 2, end_line: 2, more: false }],
    ['v/utf16.txt', {}, '1: wide', { path: 'v/utf16.txt', start_line: 1, end_line: 1, more: false }],
    ['v/empty.txt', {}, '', { path: 'v/empty.txt', start_line: 1, end_line: 0, more: false }],
    [path.join(second, 'far.txt'), {}, '1: far', { path: path.join(second, 'far.txt'), start_line: 1,
      end_line: 1, more: false }],
  ];
  for (const [file, range, lines, structured] of rows) {
    const full = path.isAbsolute(file) ? file : path.join(root, file);
    const version = sha256(full);
    const r = await call(client, 'read_lines', { path: file, ...range });
    assert.strictEqual(r.isError, false, file);
    const closing = `(Version ${version}: give it as expected_version to an edit to make sure the ` +
      'file is still as read.)';
    assert.strictEqual(r.text, lines === '' ? closing : `${lines}\n${closing}`, file);
    assert.deepStrictEqual(r.structured, { ...structured, version }, file);
  }
});

test('every edit tool applies with the current version and refuses a stale one, writing nothing', async () => {
  const file = 'e/a.txt';
  const full = path.join(root, file);
  const start = 'alpha\nbeta\ngamma\n';
  const edits = [
    ['replace_lines', (v) => ({ path: file, start_line: 2, end_line: 2, new_text: 'BETA', expected_version: v })],
    ['edit', (v) => ({ path: file, old_text: 'beta', new_text: 'BETA', expected_version: v })],
    ['batch_edit', (v) => ({ edits: [{ path: file, old_text: 'beta', new_text: 'BETA', expected_version: v },
      { path: file, start_line: 1, end_line: 1, new_text: 'ALPHA' }] })],
  ];
  for (const [tool, argsOf] of edits) {
    writeTree(root, { [file]: start });
    const read = await versionOf(file);
    // Another program changes the file after it was read.
    fs.writeFileSync(full, start.replace('gamma', 'GAMMA'));
    const changed = fs.readFileSync(full, 'utf8');
    const stale = `File '${file}' changed since version ${read} was read: nothing was written. Read ` +
      'it again with read_lines and redo the edit on what it holds now.';
    for (const dryRun of [true, false]) {
      const r = await call(client, tool, { ...argsOf(read.toUpperCase()), dry_run: dryRun });
      assert.strictEqual(r.isError, true, tool);
      assert.ok(r.text.includes(stale), `${tool}: ${r.text}`);
      assert.strictEqual(fs.readFileSync(full, 'utf8'), changed, tool);
    }
    const fresh = await versionOf(file);
    const r = await call(client, tool, argsOf(fresh));
    assert.strictEqual(r.isError, false, `${tool}: ${r.text}`);
    assert.match(fs.readFileSync(full, 'utf8'), /^(alpha|ALPHA)\nBETA\nGAMMA\n$/, tool);
    // The file has a new version now: the one read before the edit is stale.
    const again = await call(client, tool, argsOf(fresh));
    assert.strictEqual(again.isError, true, tool);
  }
});

test('a version names a file: edits of one file that expect two versions are refused', async () => {
  writeTree(root, { 'two/a.txt': 'a\n', 'two/b.txt': 'b\n' });
  const a = await versionOf('two/a.txt');
  const b = await versionOf('two/b.txt');
  const mixed = await call(client, 'batch_edit', { edits: [
    { path: 'two/a.txt', start_line: 1, end_line: 1, new_text: 'A', expected_version: a },
    { path: path.join(root, 'two/a.txt'), start_line: 2, end_line: 1, new_text: 'A2', expected_version: b },
  ] });
  assert.strictEqual(mixed.isError, true);
  assert.match(mixed.text, /The edits of 'two\/a\.txt' expect 2 different versions/);
  assert.strictEqual(fs.readFileSync(path.join(root, 'two/a.txt'), 'utf8'), 'a\n');
  // Files stand or fall one by one: b's edit with b's version is written.
  const one = await call(client, 'batch_edit', { edits: [
    { path: 'two/a.txt', start_line: 1, end_line: 1, new_text: 'A', expected_version: b },
    { path: 'two/b.txt', start_line: 1, end_line: 1, new_text: 'B', expected_version: b },
  ] });
  assert.strictEqual(one.isError, true);
  assert.match(one.text, /1 file changed, 1 failed\.$/);
  assert.deepStrictEqual(['two/a.txt', 'two/b.txt'].map((f) => fs.readFileSync(path.join(root, f), 'utf8')),
    ['a\n', 'B\n']);
  const missing = await call(client, 'edit', { path: 'two/none.txt', old_text: 'x', new_text: 'y',
    expected_version: a });
  assert.deepStrictEqual([missing.isError, missing.text],
    [true, "Cannot read 'two/none.txt' to check its version (ENOENT)"]);
  const malformed = await call(client, 'edit', { path: 'two/a.txt', old_text: 'a', new_text: 'y',
    expected_version: 'abc' });
  assert.strictEqual(malformed.isError, true);
  assert.match(malformed.text, /Input validation error[^]*SHA-256/);
});

test('replace_pattern takes a version from read_lines as the expect hash of its file', async () => {
  writeTree(root, { 'rp/a.c': 'int old_name;\n', 'rp/b.c': 'old_name();\n' });
  const a = await versionOf('rp/a.c');
  const b = await versionOf('rp/b.c');
  fs.appendFileSync(path.join(root, 'rp/b.c'), 'old_name();\n');
  const r = await call(client, 'replace_pattern', { pattern: 'old_name', replacement: 'new_name',
    path: 'rp', dry_run: false, expect: { 'rp/a.c': a, 'rp/b.c': b } });
  assert.strictEqual(r.isError, true);
  assert.match(r.text, /Failed: rp\/b\.c: File 'rp\/b\.c' changed since it was read/);
  assert.strictEqual(fs.readFileSync(path.join(root, 'rp/a.c'), 'utf8'), 'int new_name;\n');
  assert.strictEqual(fs.readFileSync(path.join(root, 'rp/b.c'), 'utf8'), 'old_name();\nold_name();\n');
});

test('a line edit starting past the line after the last is refused, as read_lines refuses it', async () => {
  const file = 'r/three.txt';
  const full = path.join(root, file);
  const rows = [
    // [start_line, end_line, the file after it, or the error]
    [4, 3, 'one\ntwo\nthree\nfour\n', null],
    [4, 9, 'one\ntwo\nthree\nfour\n', null],
    [3, 9, 'one\ntwo\nfour\n', null],
    [5, 4, null, 'File has only 3 lines, requested start at line 5'],
    [9, 9, null, 'File has only 3 lines, requested start at line 9'],
  ];
  for (const [start, end, after, error] of rows) {
    for (const tool of ['replace_lines', 'batch_edit']) {
      writeTree(root, { [file]: 'one\ntwo\nthree\n' });
      const edit = { path: file, start_line: start, end_line: end, new_text: 'four' };
      const r = await call(client, tool, tool === 'batch_edit' ? { edits: [edit] } : edit);
      const label = `${tool} ${start}..${end}`;
      assert.strictEqual(r.isError, error !== null, `${label}: ${r.text}`);
      if (error !== null) assert.ok(r.text.includes(error), `${label}: ${r.text}`);
      assert.strictEqual(fs.readFileSync(full, 'utf8'), after ?? 'one\ntwo\nthree\n', label);
    }
  }
  const read = await call(client, 'read_lines', { path: file, start_line: 5 });
  assert.deepStrictEqual([read.isError, read.text], [true, 'File has only 3 lines, requested start at line 5']);
});
