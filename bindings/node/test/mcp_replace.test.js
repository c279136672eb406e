'use strict';
// replace_pattern end to end: the server started as an assistant starts it,
// driven by the SDK's client on real files in fresh roots: a preview, the
// apply of its hashes, files changed or added between the two, the
// arguments it shares with search, templates and expect entries refused
// (the paths every tool denies are in mcp.test.js), and a preview larger
// than one reply.
const test = require('node:test');
const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const { call, startServer, tempDir, writeTree } = require('./mcp_support');

const sha256 = (file) => crypto.createHash('sha256').update(fs.readFileSync(file)).digest('hex');

/** Runs `work(client, root, second)` on a server over two fresh roots holding `files` and `secondFiles`. */
async function withServer(files, secondFiles, work) {
  const root = tempDir('qg-mcp-replace-');
  const second = tempDir('qg-mcp-replace-second-');
  writeTree(root, files);
  writeTree(second, secondFiles);
  const client = await startServer([root, second]);
  try {
    return await work(client, root, second);
  } finally {
    await client.close();
  }
}

/** The expect object of a preview's structured content. */
function expectOf(preview) {
  return Object.fromEntries(preview.structured.files.map((f) => [f.path, f.sha256]));
}

/** The expect object the preview's text tells the assistant to send. */
function expectInText(preview) {
  const m = /dry_run: false and expect: (\{.*\})\. Only these files/.exec(preview.text);
  assert.ok(m, preview.text);
  return JSON.parse(m[1]);
}

test('replace_pattern is listed with the search arguments and strict arguments of its own', async () => {
  await withServer({ 'a.txt': 'old\n' }, {}, async (client, root) => {
    const { tools } = await client.listTools();
    const tool = tools.find((t) => t.name === 'replace_pattern');
    const search = tools.find((t) => t.name === 'search');
    assert.ok(tool, 'replace_pattern is listed');
    for (const key of ['pattern', 'path', 'regex', 'ignore_case', 'whole_word', 'include', 'exclude']) {
      assert.deepStrictEqual(tool.inputSchema.properties[key], search.inputSchema.properties[key], key);
    }
    assert.deepStrictEqual(tool.inputSchema.required.sort(), ['pattern', 'replacement']);
    assert.deepStrictEqual(tool.annotations,
      { readOnlyHint: false, destructiveHint: true, idempotentHint: false, openWorldHint: false });

    const rows = [
      [{ pattern: 'old', replacement: 'new', dryrun: false }, /Unrecognized key: "dryrun"/],
      [{ pattern: 'old', replacement: 'new', context: 1 }, /Unrecognized key: "context"/],
      [{ pattern: 'old' }, /replacement/],
      [{ pattern: 'old', replacement: 'new', dry_run: false, expect: { 'a.txt': 'abc' } }, /SHA-256/],
      [{ pattern: 'old', replacement: 'new', dry_run: false, expect: ['a.txt'] }, /expect/],
    ];
    for (const [args, message] of rows) {
      const r = await call(client, 'replace_pattern', args);
      assert.strictEqual(r.isError, true, JSON.stringify(args));
      assert.match(r.text, /Input validation error/, JSON.stringify(args));
      assert.match(r.text, message, JSON.stringify(args));
    }
    assert.strictEqual(fs.readFileSync(path.join(root, 'a.txt'), 'utf8'), 'old\n');
  });
});

test('a preview lists each file with its count, hash and diff and writes nothing; ' +
  'the apply of its hashes writes them', async () => {
  const files = { 'src/a.c': 'int total = 0;\ntotal += 1;\n', 'src/b.c': 'total\r\n', 'n.txt': 'none\n' };
  await withServer(files, { 'x.txt': 'total x\n' }, async (client, root, second) => {
    const x = path.join(second, 'x.txt');
    const before = { 'src/a.c': sha256(path.join(root, 'src/a.c')),
      'src/b.c': sha256(path.join(root, 'src/b.c')), [x]: sha256(x) };
    const preview = await call(client, 'replace_pattern', { pattern: 'total', replacement: 'sum' });
    assert.strictEqual(preview.isError, false);
    assert.deepStrictEqual(preview.structured.files.map((f) => f.path), ['src/a.c', 'src/b.c', x]);
    for (const block of [
      `src/a.c: 2 replacements, sha256 ${before['src/a.c']}\n--- src/a.c\n+++ src/a.c\n` +
        '@@ -1,2 +1,2 @@\n-int total = 0;\n-total += 1;\n+int sum = 0;\n+sum += 1;\n',
      `src/b.c: 1 replacement, sha256 ${before['src/b.c']}\n--- src/b.c\n+++ src/b.c\n` +
        '@@ -1 +1 @@\n-total\r\n+sum\r\n',
      `${x}: 1 replacement, sha256 ${before[x]}\n--- ${x}\n+++ ${x}\n@@ -1 +1 @@\n-total x\n+sum x\n`,
    ]) {
      assert.ok(preview.text.includes(block), `${block}\nin\n${preview.text}`);
    }
    assert.match(preview.text, /\nDry run: nothing was written\. 4 replacements in 3 files would be made /);
    assert.deepStrictEqual(expectInText(preview), before);
    assert.deepStrictEqual(expectOf(preview), before);
    assert.deepStrictEqual({ ...preview.structured, files: undefined }, { dry_run: true,
      files: undefined, failures: [], files_modified: 3, total_replacements: 4, files_searched: 4,
      more: false, timed_out: false });
    for (const [name, data] of Object.entries(files)) {
      assert.strictEqual(fs.readFileSync(path.join(root, name), 'utf8'), data, name);
    }

    const apply = await call(client, 'replace_pattern',
      { pattern: 'total', replacement: 'sum', dry_run: false, expect: expectInText(preview) });
    assert.strictEqual(apply.isError, false, apply.text);
    // Files come root by root, each root's in the order of their paths.
    assert.deepStrictEqual(apply.text.split('\n'), ['src/a.c: 2 replacements', 'src/b.c: 1 replacement',
      `${x}: 1 replacement`, 'Replaced: 4 replacements in 3 files (4 files searched).']);
    assert.strictEqual(fs.readFileSync(path.join(root, 'src/a.c'), 'utf8'), 'int sum = 0;\nsum += 1;\n');
    assert.strictEqual(fs.readFileSync(path.join(root, 'src/b.c'), 'utf8'), 'sum\r\n');
    assert.strictEqual(fs.readFileSync(x, 'utf8'), 'sum x\n');
    assert.strictEqual(fs.readFileSync(path.join(root, 'n.txt'), 'utf8'), 'none\n');
    assert.match(client.stderr(), new RegExp(`wrote ${path.join(root, 'src/a.c')}\n`));
  });
});

test('an apply writes only the files previewed, each only as previewed', async () => {
  const files = { 'src/a.c': 'old a\n', 'src/b.c': 'old b\n', 'lib/c.c': 'old c\n' };
  await withServer(files, {}, async (client, root) => {
    const args = { pattern: 'old', replacement: 'new', path: 'src' };
    const preview = await call(client, 'replace_pattern', args);
    assert.deepStrictEqual(Object.keys(expectOf(preview)).sort(), ['src/a.c', 'src/b.c']);
    // Between the preview and the apply: b.c changed, d.c added, both with a match.
    writeTree(root, { 'src/b.c': 'old b, edited\n', 'src/d.c': 'old d\n' });

    const apply = await call(client, 'replace_pattern',
      { ...args, dry_run: false, expect: expectOf(preview) });
    assert.strictEqual(apply.isError, true);
    assert.deepStrictEqual(apply.structured.failures, [{ path: 'src/b.c', status: 'GREP_E_IO',
      message: "File 'src/b.c' changed since it was read" }]);
    assert.match(apply.text, /^src\/a\.c: 1 replacement\nFailed: src\/b\.c: File 'src\/b\.c' changed since it was read\n/);
    assert.match(apply.text, /1 file failed\. Failed files were left as they were/);
    const now = (name) => fs.readFileSync(path.join(root, name), 'utf8');
    assert.deepStrictEqual(['src/a.c', 'src/b.c', 'src/d.c', 'lib/c.c'].map(now),
      ['new a\n', 'old b, edited\n', 'old d\n', 'old c\n']);

    // A file removed since its preview fails alone too.
    fs.rmSync(path.join(root, 'src/a.c'));
    const gone = await call(client, 'replace_pattern', { ...args, dry_run: false, expect: expectOf(preview) });
    assert.deepStrictEqual(gone.structured.failures.map((f) => f.path).sort(), ['src/a.c', 'src/b.c']);
    assert.match(gone.text, /Failed: src\/a\.c: File 'src\/a\.c' is not among the files the search reads/);
    assert.strictEqual(now('src/b.c'), 'old b, edited\n');
  });
});

// Each row: the arguments of an apply without expect, the files before,
// and the files after (a file the row does not name after stays as it was).
test('replace_pattern arguments: a table of applies and the files they give', async () => {
  const rows = [
    [{ pattern: '(\\w+)_(\\w+)', regex: true, replacement: '$2_$1' },
      { 'a.txt': 'foo_bar baz_qux\n' }, { 'a.txt': 'bar_foo qux_baz\n' }],
    [{ pattern: '(?P<key>\\w+)=(?P<value>\\d+)', regex: true, replacement: '${value}:${key}' },
      { 'a.txt': 'x=1 y=22\n' }, { 'a.txt': '1:x 22:y\n' }],
    [{ pattern: 'price', replacement: '$$price ($0)' }, { 'a.txt': 'price\n' }, { 'a.txt': '$price (price)\n' }],
    [{ pattern: 'TOTAL', ignore_case: true, replacement: 'sum' }, { 'a.txt': 'Total total\n' },
      { 'a.txt': 'sum sum\n' }],
    [{ pattern: 'tot', whole_word: true, replacement: 'x' }, { 'a.txt': 'tot total\n' }, { 'a.txt': 'x total\n' }],
    [{ pattern: 'v', include: '*.c', replacement: 'w' }, { 'a.c': 'v\n', 'a.h': 'v\n' }, { 'a.c': 'w\n' }],
    [{ pattern: 'v', exclude: ['*.c'], replacement: 'w' }, { 'a.c': 'v\n', 'a.h': 'v\n' }, { 'a.h': 'w\n' }],
    [{ pattern: 'old_?name', regex: true, ignore_case: true, replacement: 'new_name',
      preserve_case: true },
      { 'a.txt': 'old_name OLD_NAME OldName oldName\n' }, { 'a.txt': 'new_name NEW_NAME NewName newName\n' }],
    [{ pattern: 'v', replacement: 'w', path: 'one/a.txt' }, { 'one/a.txt': 'v\n', 'one/b.txt': 'v\n' },
      { 'one/a.txt': 'w\n' }],
    [{ pattern: 'v', replacement: '' }, { 'a.txt': 'v1v\n', 'node_modules/m.js': 'v\n' }, { 'a.txt': '1\n' }],
  ];
  for (const [args, before, after] of rows) {
    await withServer(before, {}, async (client, root) => {
      const r = await call(client, 'replace_pattern', { ...args, dry_run: false });
      assert.strictEqual(r.isError, false, `${JSON.stringify(args)}: ${r.text}`);
      for (const [name, data] of Object.entries(before)) {
        assert.strictEqual(fs.readFileSync(path.join(root, name), 'utf8'), after[name] ?? data,
          `${JSON.stringify(args)} ${name}`);
      }
    });
  }
});

test('replace_pattern refusals are error results and nothing is written', async () => {
  await withServer({ 'a.txt': 'total\n', 'src/b.txt': 'total\n' }, {}, async (client, root) => {
    const hash = sha256(path.join(root, 'a.txt'));
    const rows = [
      [{ pattern: '(t)otal', regex: true, replacement: '$2', dry_run: false },
        'Replacement refers to $2, a group the pattern does not have'],
      [{ pattern: 'a[b', regex: true, replacement: 'x', dry_run: false }, /^Invalid pattern: /],
      [{ pattern: 'total', replacement: 'x', dry_run: false, expect: { 'a.txt': hash, '../a.txt': hash } },
        "Access denied: '../a.txt' is outside the allowed roots"],
      [{ pattern: 'total', replacement: 'x', dry_run: false, path: 'src', expect: { 'a.txt': hash } },
        "expect names 'a.txt', which is not below the path searched ('src'); call with the path " +
        'the preview was called with'],
      [{ pattern: 'total', replacement: 'x', dry_run: false, expect: { 'a.txt': hash, [`${root}/a.txt`]: hash } },
        `expect names one file twice: as 'a.txt' and as '${root}/a.txt'`],
    ];
    for (const [args, message] of rows) {
      const r = await call(client, 'replace_pattern', args);
      assert.strictEqual(r.isError, true, JSON.stringify(args));
      if (typeof message === 'string') assert.strictEqual(r.text, message);
      else assert.match(r.text, message);
    }
    assert.strictEqual(fs.readFileSync(path.join(root, 'a.txt'), 'utf8'), 'total\n');
    assert.strictEqual(fs.readFileSync(path.join(root, 'src/b.txt'), 'utf8'), 'total\n');
  });
});

test('a preview larger than one reply shows whole files only, and puts only those in expect', async () => {
  const files = {};
  for (let i = 0; i < 1500; ++i) files[`f${String(i).padStart(4, '0')}.txt`] = `${'old '.repeat(100)}\n`;
  await withServer(files, {}, async (client, root) => {
    const preview = await call(client, 'replace_pattern', { pattern: 'old', replacement: 'new' });
    assert.strictEqual(preview.isError, false);
    assert.ok(Buffer.byteLength(preview.text) <= 512 * 1024, `${Buffer.byteLength(preview.text)} bytes`);
    assert.strictEqual(preview.structured.more, true);
    const expect = expectInText(preview);
    const shown = Object.keys(expect);
    assert.ok(shown.length > 0 && shown.length < 1500, `${shown.length} files shown`);
    assert.deepStrictEqual(expect, expectOf(preview));
    // The files shown are the first ones by path, the same in every preview.
    assert.deepStrictEqual(shown, Object.keys(files).slice(0, shown.length));
    assert.ok(preview.text.includes("Not every file is shown (the reply's limit): 1500 files would " +
      `change in all, the first ${shown.length} are shown, and only those are in expect below.`));
    // Every file listed is listed with its whole diff.
    for (const name of shown) assert.ok(preview.text.includes(`+++ ${name}\n@@ -1 +1 @@\n-old old`), name);

    const apply = await call(client, 'replace_pattern',
      { pattern: 'old', replacement: 'new', dry_run: false, expect });
    assert.strictEqual(apply.isError, false);
    assert.strictEqual(apply.structured.files_modified, shown.length);
    const changed = Object.keys(files).filter((name) =>
      fs.readFileSync(path.join(root, name), 'utf8').startsWith('new'));
    assert.deepStrictEqual(changed, shown);
  });
});
