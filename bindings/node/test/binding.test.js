'use strict';
// The Node.js binding against the real library, under Node's test runner.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const qg = require('..');

const sourceRoot = path.resolve(__dirname, '..', '..', '..');

function tempTree(files) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quenmar-grep-node-'));
  for (const [name, text] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(dir, name)), { recursive: true });
    fs.writeFileSync(path.join(dir, name), text);
  }
  return dir;
}

test('one version: the project\'s, the package\'s and the library\'s', () => {
  const cmake = fs.readFileSync(path.join(sourceRoot, 'CMakeLists.txt'), 'utf8');
  const project = /project\(quenmar-grep VERSION ([0-9.]+)/.exec(cmake)[1];
  assert.strictEqual(qg.version(), project);
  assert.strictEqual(require('../package.json').version, project);
});

test('every export of the public header is used by the addon or named here', () => {
  const header = fs.readFileSync(path.join(sourceRoot, 'include', 'quenmar_grep.h'), 'utf8');
  const exports = [...header.matchAll(/\nQUENMAR_GREP_API [^(;#]*?\b(\w+)\(/g)].map((m) => m[1]);
  const addon = fs.readFileSync(path.join(__dirname, '..', 'src', 'addon.cpp'), 'utf8');
  const unused = { grep_search_stream: 'the stoppable grep_search_stream_ctx serves streams' };
  assert.ok(exports.length >= 8);
  for (const name of exports) {
    assert.ok(addon.includes(`${name}(`) || name in unused, `${name} is neither used nor named`);
  }
});

test('search resolves to the document, the same for options as object or text', async () => {
  const dir = tempTree({ 'a.c': 'int alpha;\nint beta;\n', 'sub/b.h': '// BETA\n' });
  const doc = await qg.search(dir, 'beta', { ignore_case: true, match_length: true });
  const found = doc.matches.map((m) => [path.relative(dir, m.file), m.line, m.col, m.length]).sort();
  assert.deepStrictEqual(found, [['a.c', 2, 5, 4], ['sub/b.h', 1, 4, 4]]);
  assert.strictEqual(doc.total_matches, 2);
  const fromText = await qg.search(dir, 'beta', '{"ignore_case":true,"match_length":true}');
  assert.deepStrictEqual(fromText.matches, doc.matches);
});

test('failures reject with the library\'s message, a missing root with ENOENT', async () => {
  const dir = tempTree({ 'a.txt': 'x\n' });
  await assert.rejects(qg.search(dir, 'x', '{"regex":tru'),
    { message: 'Invalid JSON in options: {"regex":tru' });
  await assert.rejects(qg.search(path.join(dir, 'nosuch'), 'x'), { code: 'ENOENT' });
  await assert.rejects(qg.readLines(path.join(dir, 'nosuch'), 1, 1),
    /Cannot open file '.*nosuch': No such file or directory/);
  await assert.rejects(async () => { for await (const m of qg.searchStream(path.join(dir, 'no'), 'x')) void m; },
    { code: 'ENOENT' });
});

test('the stream yields the document\'s matches in order and stops when the loop ends', async () => {
  const files = {};
  for (let i = 0; i < 2000; i++) files[`d${i % 7}/f${i}.txt`] = 'needle\nhay\nneedle again\n';
  const dir = tempTree(files);
  const doc = await qg.search(dir, 'needle', { context_lines: 1 });
  const streamed = [];
  for await (const m of qg.searchStream(dir, 'needle', { context_lines: 1 })) streamed.push(m);
  assert.deepStrictEqual(streamed, doc.matches);

  const early = qg.searchStream(dir, 'needle');
  let seen = 0;
  for await (const m of early) {
    void m;
    if (++seen === 5) break;
  }
  assert.ok(early.count < doc.total_matches / 4, `the search went on to ${early.count} matches`);
});

test('the event loop runs while a search does', async () => {
  const files = {};
  for (let i = 0; i < 1500; i++) files[`f${i}.txt`] = 'text\n'.repeat(50);
  const dir = tempTree(files);
  let ticks = 0;
  const timer = setInterval(() => { ticks++; }, 0);
  setImmediate(() => { ticks++; });
  await qg.search(dir, 'never there');
  clearInterval(timer);
  assert.ok(ticks > 0);
});

test('lines are read, replaced and edited in batches', async () => {
  const dir = tempTree({ 'n.txt': 'one\r\ntwo\r\nthree\r\n' });
  const file = path.join(dir, 'n.txt');
  assert.strictEqual(await qg.readLines(file, 2, 2), '2: two\n');
  assert.deepStrictEqual(await qg.numberedLines(file), [[1, 'one'], [2, 'two'], [3, 'three']]);
  await qg.replaceLines(file, 2, 2, 'TWO\n');
  const result = await qg.batchReplace([{ file, start_line: 1, end_line: 0, new_text: 'zero\n' }]);
  assert.strictEqual(result.success, true);
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'zero\r\none\r\nTWO\r\nthree\r\n');
  const empty = path.join(dir, 'empty.txt');
  fs.writeFileSync(empty, '');
  assert.strictEqual(await qg.readLines(empty), '');
  await assert.rejects(qg.replaceLines(path.join(dir, 'nosuch'), 1, 1, 'x'), /No such file or directory/);
  assert.throws(() => qg.readLines(file, 'one', 2), TypeError);
});
