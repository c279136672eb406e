'use strict';
// The tool server end to end: the server started as an assistant starts it
// (a child process speaking the protocol over stdio), driven by the SDK's own
// client, on real files.
const test = require('node:test');
const assert = require('node:assert');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const qg = require('..');
const { call, main, startServer, tempDir, withoutVersion, writeTree } = require('./mcp_support');

// One root with sources, a second root, and a folder outside both.
const root = tempDir('qg-mcp-root-');
const second = tempDir('qg-mcp-second-');
const outside = tempDir('qg-mcp-outside-');
writeTree(root, {
  'src/main.c': 'int main(void) {\n  int total = 0;\n  total += 1;\n  return total;\n}\n',
  'src/util.h': '// total of all\n#define PM_RESUME 1\n',
  'docs/notes.txt': 'alpha\nbeta\ngamma\n',
  'crlf.txt': 'one\r\ntwo\r\nthree\r\n',
  'long.txt': Array.from({ length: 2500 }, (_, i) => `line ${i + 1}`).join('\n') + '\n',
  'node_modules/dep/index.js': 'total\n',
});
fs.writeFileSync(path.join(root, 'utf16.txt'), Buffer.concat([Buffer.from([0xff, 0xfe]),
  Buffer.from('héllo\r\nwörld\r\n', 'utf16le')]));
writeTree(second, { 'b.txt': 'total in the second root\n' });
writeTree(outside, { 'secret.txt': 'total secret\n', 'dir/inner.txt': 'total inner\n' });
fs.symlinkSync(path.join(outside, 'secret.txt'), path.join(root, 'to-secret.txt'));
fs.symlinkSync(path.join(outside, 'dir'), path.join(root, 'to-dir'));
fs.symlinkSync('/etc', path.join(root, 'etc'));

let client;
test.before(async () => {
  client = await startServer([root, second]);
});
test.after(async () => {
  await client.close();
});

/** The tools the server offers, in name order. */
const TOOLS = ['batch_edit', 'directory_tree', 'edit', 'find_files', 'list_directory', 'read_lines',
  'replace_lines', 'replace_pattern', 'search'];

test('the server names itself and lists its described tools', async () => {
  assert.deepStrictEqual(client.getServerVersion(), { name: 'quenmar-grep', version: qg.version() });
  const { tools } = await client.listTools();
  assert.deepStrictEqual(tools.map((t) => t.name).sort(), TOOLS);
  for (const tool of tools) {
    assert.ok(tool.description.length > 40, tool.name);
    for (const [key, schema] of Object.entries(tool.inputSchema.properties)) {
      assert.ok(schema.description, `${tool.name}.${key} has a description`);
    }
  }
  const reads = { readOnlyHint: true, openWorldHint: false };
  const writes = { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false };
  const listings = { ...reads, idempotentHint: true };
  const hints = { search: reads, read_lines: reads, list_directory: listings,
    directory_tree: listings, find_files: listings, replace_lines: writes, edit: writes,
    batch_edit: writes, replace_pattern: writes };
  assert.deepStrictEqual(Object.fromEntries(tools.map((t) => [t.name, t.annotations])), hints);
  const search = tools.find((t) => t.name === 'search');
  assert.deepStrictEqual(search.inputSchema.required, ['pattern']);
  assert.strictEqual(search.inputSchema.properties.max_results.maximum, 2000);
});

// Each search argument that stands for an option key takes what the key
// takes in the library's own schema, within the key's range.
test('the search arguments agree with the library\'s options schema', async () => {
  const { tools } = await client.listTools();
  const args = tools.find((t) => t.name === 'search').inputSchema.properties;
  const keys = Object.fromEntries(qg.optionsSchema().map((o) => [o.key, o]));
  const mapped = { ignore_case: 'ignore_case', whole_word: 'whole_word', include: 'include_globs',
    exclude: 'exclude_globs', context: 'context_lines', max_results: 'max_results' };
  const jsonTypes = (schema) => (schema.anyOf ?? [schema]).map((s) => s.type).sort();
  const wants = { boolean: ['boolean'], integer: ['integer'], globs: ['array', 'string'],
    path_globs: ['array', 'string'] };
  for (const [arg, key] of Object.entries(mapped)) {
    const keyRow = keys[key];
    assert.ok(keyRow, `${key} is a key of the library`);
    assert.deepStrictEqual(jsonTypes(args[arg]), wants[keyRow.type], `${arg} -> ${key}`);
    if (keyRow.type === 'integer') {
      assert.ok(args[arg].minimum >= keyRow.minimum && args[arg].maximum <= keyRow.maximum, arg);
    }
  }
});

test('search lists PATH:LINE:COL:TEXT relative to each root, then a count', async () => {
  const r = await call(client, 'search', { pattern: 'total' });
  assert.strictEqual(r.isError, false);
  const lines = r.text.split('\n');
  assert.deepStrictEqual(lines.slice().sort(), [
    '5 matches in 3 files',
    'b.txt:1:1:total in the second root',
    'src/main.c:2:7:  int total = 0;',
    'src/main.c:3:3:  total += 1;',
    'src/main.c:4:10:  return total;',
    'src/util.h:1:4:// total of all',
  ].sort());
  assert.strictEqual(lines.at(-1), '5 matches in 3 files');
  assert.strictEqual(r.structured.matches.length, 5);
  assert.deepStrictEqual(r.structured.matches.find((m) => m.path === 'src/util.h'),
    { path: 'src/util.h', line: 1, col: 4, text: '// total of all' });
  assert.strictEqual(r.structured.more, false);
});

test('search options: a table of arguments and the lines they give', async () => {
  const rows = [
    [{ pattern: 'TOTAL', ignore_case: true, path: 'src/util.h' }, ['src/util.h:1:4:// total of all']],
    [{ pattern: 'int (total|count) = \\d', regex: true }, ['src/main.c:2:3:  int total = 0;']],
    [{ pattern: 'tot', whole_word: true }, []],
    [{ pattern: 'total', include: '*.h' }, ['src/util.h:1:4:// total of all']],
    [{ pattern: 'total', exclude: ['*.c', '*.txt'] }, ['src/util.h:1:4:// total of all']],
    [{ pattern: 'total', path: `${root}/src/main.c`, max_results: 1 }, ['src/main.c:2:7:  int total = 0;']],
    [{ pattern: 'total += 1', path: 'src', context: 1 },
      ['src/main.c-2-  int total = 0;', 'src/main.c:3:3:  total += 1;', 'src/main.c-4-  return total;']],
    [{ pattern: 'int|return', regex: true, path: 'src/main.c', context: 1 },
      ['src/main.c:1:1:int main(void) {', 'src/main.c:2:3:  int total = 0;', 'src/main.c-3-  total += 1;',
        'src/main.c:4:3:  return total;', 'src/main.c-5-}']],
    [{ pattern: '^line (10|20)$', regex: true, path: 'long.txt', context: 1 },
      ['long.txt-9-line 9', 'long.txt:10:1:line 10', 'long.txt-11-line 11', '--',
        'long.txt-19-line 19', 'long.txt:20:1:line 20', 'long.txt-21-line 21']],
  ];
  for (const [args, want] of rows) {
    const r = await call(client, 'search', args);
    assert.strictEqual(r.isError, false, JSON.stringify(args));
    const listed = r.text.split('\n').filter((line) => !/^\d+ match(es)? in \d+ files?|^Next page: /.test(line));
    assert.deepStrictEqual(listed, want, JSON.stringify(args));
  }
  const capped = await call(client, 'search', { pattern: 'line', path: 'long.txt', max_results: 3 });
  assert.deepStrictEqual(capped.text.split('\n').slice(0, 3),
    ['long.txt:1:1:line 1', 'long.txt:2:1:line 2', 'long.txt:3:1:line 3']);
  assert.match(capped.text.split('\n')[3], /^3 matches in 1 file shown; more exist\. Narrow the search/);
  assert.strictEqual(capped.structured.more, true);
});

test('search failures are error results with the library\'s message', async () => {
  const bad = await call(client, 'search', { pattern: 'a[b', regex: true });
  assert.strictEqual(bad.isError, true);
  assert.match(bad.text, /^Invalid pattern: .* at byte 1/);
  const missing = await call(client, 'search', { pattern: 'x', path: 'no/such/place' });
  assert.strictEqual(missing.isError, true);
  assert.match(missing.text, /no\/such\/place/);
  const tooMany = await call(client, 'search', { pattern: 'x', max_results: 2001 });
  assert.strictEqual(tooMany.isError, true);
  assert.match(tooMany.text, /max_results/);
});

test('read_lines gives numbered lines and says how to read on when cut', async () => {
  const r = await call(client, 'read_lines', { path: 'src/main.c', start_line: 2, end_line: 3 });
  assert.deepStrictEqual([r.isError, withoutVersion(r.text)], [false, '2:   int total = 0;\n3:   total += 1;']);
  const all = await call(client, 'read_lines', { path: 'docs/notes.txt' });
  assert.strictEqual(withoutVersion(all.text), '1: alpha\n2: beta\n3: gamma');
  const utf16 = await call(client, 'read_lines', { path: 'utf16.txt' });
  assert.strictEqual(withoutVersion(utf16.text), '1: héllo\n2: wörld');
  const long = await call(client, 'read_lines', { path: 'long.txt', start_line: 100 });
  assert.strictEqual(long.structured.more, true);
  const rows = withoutVersion(long.text).split('\n');
  assert.strictEqual(rows.length, 2001);
  assert.strictEqual(rows[1999], '2099: line 2099');
  assert.match(rows[2000], /call read_lines with start_line=2100/);
  const tail = await call(client, 'read_lines', { path: 'long.txt', start_line: 2100 });
  assert.strictEqual(withoutVersion(tail.text).split('\n').length, 401);
  assert.deepStrictEqual([tail.structured.end_line, tail.structured.more], [2500, false]);
  assert.ok(!tail.text.includes('read_lines with'));
  assert.deepStrictEqual(await call(client, 'read_lines', { path: 'docs/notes.txt', start_line: 9 }),
    { text: 'File has only 3 lines, requested start at line 9', isError: true, structured: undefined });
  assert.deepStrictEqual(await call(client, 'read_lines', { path: 'docs/notes.txt', start_line: 3, end_line: 2 }),
    { text: 'start_line (3) must be <= end_line (2)', isError: true, structured: undefined });
  const missing = await call(client, 'read_lines', { path: 'nope.txt' });
  assert.strictEqual(missing.isError, true);
  assert.match(missing.text, /nope\.txt/);
});

test('edits answer with diffs; dry runs write nothing; CRLF and UTF-16 are kept', async () => {
  const file = path.join(root, 'docs/notes.txt');
  const dry = await call(client, 'replace_lines',
    { path: 'docs/notes.txt', start_line: 2, end_line: 2, new_text: 'BETA', dry_run: true });
  assert.strictEqual(dry.text, 'Dry run: nothing was written. The edit would change docs/notes.txt:\n' +
    '--- docs/notes.txt\n+++ docs/notes.txt\n@@ -1,3 +1,3 @@\n alpha\n-beta\n+BETA\n gamma\n');
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'alpha\nbeta\ngamma\n');

  const stale = await call(client, 'replace_lines',
    { path: 'docs/notes.txt', start_line: 2, end_line: 2, new_text: 'B', expected_text: 'old' });
  assert.strictEqual(stale.isError, true);
  assert.match(stale.text, /do not hold the expected text/);
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'alpha\nbeta\ngamma\n');

  const done = await call(client, 'replace_lines',
    { path: 'docs/notes.txt', start_line: 2, end_line: 2, new_text: 'BETA', expected_text: 'beta' });
  assert.strictEqual(done.isError, false);
  assert.match(done.text, /^Edited docs\/notes.txt:\n--- docs\/notes.txt\n/);
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'alpha\nBETA\ngamma\n');

  const crlf = await call(client, 'edit', { path: 'crlf.txt', old_text: 'two\nthree', new_text: '2\n3' });
  assert.strictEqual(crlf.isError, false);
  assert.strictEqual(fs.readFileSync(path.join(root, 'crlf.txt'), 'utf8'), 'one\r\n2\r\n3\r\n');

  const wide = await call(client, 'edit', { path: 'utf16.txt', old_text: 'wörld', new_text: 'welt' });
  assert.strictEqual(wide.isError, false);
  assert.deepStrictEqual(fs.readFileSync(path.join(root, 'utf16.txt')), Buffer.concat([
    Buffer.from([0xff, 0xfe]), Buffer.from('héllo\r\nwelt\r\n', 'utf16le')]));

  for (const [args, message] of [
    [{ path: 'crlf.txt', old_text: 'absent', new_text: 'x' }, /not found|does not occur/i],
    [{ path: 'long.txt', old_text: 'line', new_text: 'x' }, /more than once|occurs \d+ times/i],
  ]) {
    const r = await call(client, 'edit', args);
    assert.strictEqual(r.isError, true, JSON.stringify(args));
    assert.match(r.text, message);
  }
  const all = await call(client, 'edit',
    { path: 'src/main.c', old_text: 'total', new_text: 'sum', replace_all: true, dry_run: true });
  assert.strictEqual((all.text.match(/^\+.*sum/gm) || []).length, 3);
  assert.ok(fs.readFileSync(path.join(root, 'src/main.c'), 'utf8').includes('total'));
});

test('batch_edit writes the files that succeed and names each one that fails', async () => {
  writeTree(second, { 'c.txt': 'c1\nc2\n' });
  const r = await call(client, 'batch_edit', { edits: [
    { path: `${second}/c.txt`, start_line: 1, end_line: 1, new_text: 'C1' },
    { path: `${second}/c.txt`, old_text: 'c2', new_text: 'C2' },
    { path: 'missing.txt', start_line: 1, end_line: 1, new_text: 'x' },
  ] });
  assert.strictEqual(r.isError, true);
  assert.match(r.text, /^--- c\.txt\n\+\+\+ c\.txt\n@@ -1,2 \+1,2 @@\n-c1\n-c2\n\+C1\n\+C2\n/);
  assert.match(r.text, /\nFailed: .*missing\.txt/);
  assert.match(r.text, /1 file changed, 1 failed\.$/);
  assert.strictEqual(fs.readFileSync(path.join(second, 'c.txt'), 'utf8'), 'C1\nC2\n');

  const overlap = await call(client, 'batch_edit', { dry_run: true, edits: [
    { path: 'docs/notes.txt', start_line: 1, end_line: 2, new_text: 'x' },
    { path: 'docs/notes.txt', start_line: 2, end_line: 3, new_text: 'y' },
  ] });
  assert.strictEqual(overlap.isError, true);
  assert.match(overlap.text, /overlap/i);
});

test('no path outside the roots is read, written or reported', async () => {
  const secret = fs.readFileSync(path.join(outside, 'secret.txt'), 'utf8');
  const escapes = ['../' + path.basename(outside) + '/secret.txt', path.join(outside, 'secret.txt'),
    'to-secret.txt', 'to-dir/inner.txt', 'etc/hostname', 'etc', 'src/../../' + path.basename(outside),
    'to-dir/new-file.txt', '/'];
  const sha = '0'.repeat(64);
  for (const given of escapes) {
    const denied = `Access denied: '${given}' is outside the allowed roots`;
    const calls = [
      ['read_lines', { path: given }],
      ['search', { pattern: 'total', path: given }],
      ['edit', { path: given, old_text: 'total', new_text: 'x' }],
      ['replace_lines', { path: given, start_line: 1, end_line: 0, new_text: 'x' }],
      ['batch_edit', { edits: [{ path: 'docs/notes.txt', start_line: 1, end_line: 0, new_text: 'x' },
        { path: given, start_line: 1, end_line: 0, new_text: 'x' }] }],
      ['replace_pattern', { pattern: 'total', replacement: 'x', path: given, dry_run: false }],
      ['replace_pattern', { pattern: 'total', replacement: 'x', dry_run: false,
        expect: { 'src/main.c': sha, [given]: sha } }],
    ];
    for (const [name, args] of calls) {
      const r = await call(client, name, args);
      assert.deepStrictEqual([r.isError, r.text], [true, denied], `${name} ${given}`);
    }
  }
  assert.strictEqual(fs.readFileSync(path.join(outside, 'secret.txt'), 'utf8'), secret);
  assert.ok(!fs.existsSync(path.join(outside, 'dir/new-file.txt')));
  assert.ok(!fs.readFileSync(path.join(root, 'docs/notes.txt'), 'utf8').startsWith('x'));
  // A whole-root search passes over the links that lead out.
  const r = await call(client, 'search', { pattern: 'secret|inner|root', regex: true, max_results: 2000 });
  assert.ok(!/secret|inner/.test(r.text), r.text);
  // A link that stays inside a root is followed when named.
  fs.symlinkSync(path.join(root, 'src'), path.join(root, 'src-link'));
  const inside = await call(client, 'read_lines', { path: 'src-link/util.h', end_line: 1 });
  assert.strictEqual(withoutVersion(inside.text), '1: // total of all');
});

test('malformed requests get protocol errors and the server goes on', async () => {
  const unknown = await call(client, 'no_such_tool', {});
  assert.strictEqual(unknown.isError, true);
  for (const [name, args] of [
    ['search', {}], ['search', { pattern: 7 }], ['read_lines', { path: 'a', start_line: 0 }],
    ['replace_lines', { path: 'a', start_line: 1.5, end_line: 1, new_text: '' }],
    ['batch_edit', { edits: [] }], ['search', { pattern: 'x', context: 11 }],
  ]) {
    const r = await call(client, name, args);
    assert.strictEqual(r.isError, true, `${name} ${JSON.stringify(args)}`);
    assert.match(r.text, /Input validation error/);
  }
  await assert.rejects(client.request({ method: 'no/such/method', params: {} },
    require('@modelcontextprotocol/sdk/types.js').EmptyResultSchema), /Method not found/);
  // Bytes that are not JSON at all, then a valid request, on a raw stdio pipe.
  const child = spawn(process.execPath, [main, root], { stdio: ['pipe', 'pipe', 'pipe'] });
  let out = '';
  child.stdout.on('data', (d) => { out += d; });
  child.stdin.write('this is not json\n{"jsonrpc":"2.0","id":1,"method":"ping"}\n');
  await new Promise((resolve) => {
    const poll = setInterval(() => {
      if (out.includes('"id":1')) { clearInterval(poll); resolve(); }
    }, 10);
  });
  child.kill();
  assert.match(out, /"result":\{\}/);
  const tools = await client.listTools();
  assert.strictEqual(tools.tools.length, TOOLS.length);
});

test('a search that reaches the time limit stops and says so', async () => {
  const slow = tempDir('qg-mcp-slow-');
  fs.writeFileSync(path.join(slow, 'a.txt'), `${'a'.repeat(300000)}\n`.repeat(4));
  const limited = await startServer(['--timeout', '50', slow]);
  try {
    const r = await call(limited, 'search', { pattern: '\\w{1000}\\d', regex: true });
    assert.strictEqual(r.isError, false);
    assert.strictEqual(r.structured.timed_out, true);
    assert.match(r.text, /stopped at the time limit of 50 ms/);
  } finally {
    await limited.close();
  }
});

test('a bad ROOT or option stops the server at start with a message', () => {
  const file = path.join(root, 'crlf.txt');
  for (const [args, message] of [
    [[], /no ROOT given/], [['/no/such/folder'], /ROOT '\/no\/such\/folder' does not exist/],
    [[file], /is not a directory/], [['--timeout', 'soon', root], /--timeout takes a number/],
    [['--verbose', root], /unknown option '--verbose'/],
  ]) {
    const run = spawnSync(process.execPath, [main, ...args], { encoding: 'utf8', input: '' });
    assert.strictEqual(run.status, 2, args.join(' '));
    assert.match(run.stderr, message);
  }
});
