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
  const unused = {
    grep_search_stream: 'the stoppable grep_search_stream_ctx serves streams',
    grep_list_files_json: 'a listing for the command-line tool and C hosts',
  };
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

test('failures reject with the library\'s message and status', async () => {
  const dir = tempTree({ 'a.txt': 'x\n' });
  await assert.rejects(qg.search(dir, 'x', '{"regex":tru'),
    { message: 'Invalid JSON in options: {"regex":tru', code: 'GREP_E_ARGUMENT', status: -1 });
  await assert.rejects(qg.search(path.join(dir, 'nosuch'), 'x'),
    { code: 'GREP_E_NOT_FOUND', status: qg.Status.GREP_E_NOT_FOUND });
  await assert.rejects(qg.readLines(path.join(dir, 'nosuch'), 1, 1),
    { code: 'GREP_E_NOT_FOUND', message: /Cannot open file '.*nosuch': No such file or directory/ });
  await assert.rejects(qg.readLines(path.join(dir, 'a.txt'), 3, 2), { code: 'GREP_E_ARGUMENT' });
  await assert.rejects(async () => { for await (const m of qg.searchStream(path.join(dir, 'no'), 'x')) void m; },
    { code: 'GREP_E_NOT_FOUND' });
});

test('a time limit: the document says so, the stream throws after its matches', async () => {
  const dir = tempTree({ 'long.txt': `${'a'.repeat(40000)}b\n`, 'short.txt': 'ab\n' });
  const options = { regex: true, timeout_ms: 30 };
  const pattern = `${'a'.repeat(20000)}b|ab`;
  const doc = await qg.search(dir, pattern, options);
  assert.strictEqual(doc.timed_out, true);
  const seen = [];
  await assert.rejects(async () => { for await (const m of qg.searchStream(dir, pattern, options)) seen.push(m); },
    { code: 'GREP_TIMED_OUT', message: 'Search stopped at the time limit of 30 ms' });
  // Where each run stopped depends on the machine's load: each gives matches
  // the whole search would give, each once, and no other.
  const whole = [{ file: path.join(dir, 'long.txt'), line: 1, col: 20001, text: `${'a'.repeat(40000)}b`, context: [] },
    { file: path.join(dir, 'short.txt'), line: 1, col: 1, text: 'ab', context: [] }];
  for (const found of [seen, doc.matches]) {
    const positions = found.map((m) => whole.findIndex((w) => JSON.stringify(w) === JSON.stringify(m)));
    assert.ok(positions.every((p) => p >= 0) && new Set(positions).size === positions.length,
      JSON.stringify(found));
  }
});

test('an output cap: the document says so, the stream throws after what fitted', async () => {
  const dir = tempTree({ 'a.txt': 'hit one\nhit two\nhit three\nhit four\n' });
  const whole = await qg.search(dir, 'hit');
  const doc = await qg.search(dir, 'hit', { max_output_bytes: 300 });
  assert.strictEqual(doc.output_limited, true);
  assert.ok(doc.matches.length > 0 && doc.matches.length < 4);
  assert.deepStrictEqual(doc.matches, whole.matches.slice(0, doc.matches.length));
  const seen = [];
  await assert.rejects(async () => {
    for await (const m of qg.searchStream(dir, 'hit', { max_output_bytes: 200 })) seen.push(m);
  }, { code: 'GREP_OUTPUT_LIMITED', status: qg.Status.GREP_OUTPUT_LIMITED,
    message: 'Search stopped at the output limit of 200 bytes' });
  assert.deepStrictEqual(seen, whole.matches.slice(0, seen.length));
  assert.ok(seen.length >= 1 && seen.length < 4);
});

// 30 lines of 1 MiB with 10 lines of context make a document of 660 MB,
// longer than the engine's longest string: the call rejects, it does not
// stay pending; with an output cap the same search resolves.
test('a document too large for a JavaScript string rejects with a clear error', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'quenmar-grep-node-huge-'));
  try {
    fs.writeFileSync(path.join(dir, 'wide.txt'), `${'a'.repeat(1 << 20)}\n`.repeat(30));
    await assert.rejects(qg.search(dir, 'a', { context_lines: 10 }), {
      code: 'GREP_E_NO_MEMORY', status: qg.Status.GREP_E_NO_MEMORY,
      message: /^The search document \(\d+ bytes\) is too large for a JavaScript string; narrow the search or set max_output_bytes$/,
    });
    const capped = await qg.search(dir, 'a', { context_lines: 10, max_output_bytes: 64 << 20 });
    assert.strictEqual(capped.output_limited, true);
    assert.ok(capped.matches.length >= 3 && capped.matches.length < 10, `${capped.matches.length}`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('a host\'s buffer is searched as one file, every match of a line listed', async () => {
  const doc = await qg.searchText('buf.js', 'x\nneedle needle\n', 'needle', { submatches: true });
  assert.deepStrictEqual(doc.matches.map((m) => [m.file, m.line, m.submatches]),
    [['buf.js', 2, [{ col: 1, length: 6 }, { col: 8, length: 6 }]]]);
  const utf16 = Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from('needle\n', 'utf16le')]);
  assert.strictEqual((await qg.searchText('u.txt', utf16, 'needle')).total_matches, 1);
  assert.strictEqual((await qg.searchText('b.js', 'needle', 'needle', { include_globs: '*.c' })).files_searched, 0);
  await assert.rejects(qg.searchText('b', 'x', 'x', '{'), { code: 'GREP_E_ARGUMENT' });
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

test('edits that state what they expect, text edits and dry runs', async () => {
  const dir = tempTree({ 'e.txt': 'x = 1\r\ny = 1\r\n' });
  const file = path.join(dir, 'e.txt');
  await assert.rejects(qg.replaceLines(file, 1, 1, 'x = 0', { expected: 'x = 2' }),
    (e) => e.code === 'GREP_E_CONFLICT' && e.status === qg.Status.GREP_E_CONFLICT);
  await assert.rejects(qg.editText(file, '1', '2'), (e) => e.code === 'GREP_E_CONFLICT' &&
    /occurs 2 times/.test(e.message));
  const diff = await qg.editText(file, 'y = 1', 'y = 2', { dryRun: true });
  assert.strictEqual(diff, `--- ${file}\n+++ ${file}\n@@ -1,2 +1,2 @@\n x = 1\r\n-y = 1\r\n+y = 2\r\n`);
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'x = 1\r\ny = 1\r\n');
  for (const form of [[{ file, old_text: '1', new_text: '3', replace_all: true }],
    JSON.stringify({ edits: [{ file, old_text: '1', new_text: '3', replace_all: true }] })]) {
    const result = await qg.batchReplace(form, { dryRun: true });
    assert.strictEqual(result.diffs.length, 1);
    assert.strictEqual(fs.readFileSync(file, 'utf8'), 'x = 1\r\ny = 1\r\n');
  }
  assert.strictEqual(await qg.editText(file, '1', '3', { replaceAll: true }), undefined);
  await qg.replaceLines(file, 1, 1, 'x = 0', { expected: 'x = 3' });
  assert.strictEqual(fs.readFileSync(file, 'utf8'), 'x = 0\r\ny = 3\r\n');
});

test('edits change only what they name, unless told otherwise', async () => {
  const dir = tempTree({ 'm.txt': 'a\r\nb\nc\rd' });
  const file = path.join(dir, 'm.txt');
  const reset = () => fs.writeFileSync(file, 'a\r\nb\nc\rd');
  await qg.replaceLines(file, 2, 2, 'B');
  assert.strictEqual(fs.readFileSync(file, 'latin1'), 'a\r\nB\nc\rd');
  await qg.editText(file, 'c', 'C');
  assert.strictEqual(fs.readFileSync(file, 'latin1'), 'a\r\nB\nC\rd');
  await assert.rejects(qg.replaceLines(file, 9, 9, 'x'),
    (e) => e.message === 'File has only 4 lines, requested start at line 9');
  const edit = { file, start_line: 2, new_text: 'X' };
  for (const form of [[edit], { edits: [edit] }, JSON.stringify([edit]),
    ` {"edits":${JSON.stringify([edit])}}`, '{}']) {
    reset();
    const result = await qg.batchReplace(form);
    assert.strictEqual(result.success, form !== '{}', JSON.stringify(result));
    if (form !== '{}') assert.strictEqual(fs.readFileSync(file, 'latin1'), 'a\r\nX\nc\rd');
  }
  for (const form of [{ edits: [edit], exact: false }, JSON.stringify({ exact: false, edits: [edit] })]) {
    reset();
    assert.strictEqual((await qg.batchReplace(form)).success, true);
    assert.strictEqual(fs.readFileSync(file, 'latin1'), 'a\nX\nc\nd\n');
  }
  reset();
  await qg.replaceLines(file, 1, 1, 'A', { exact: false });
  assert.strictEqual(fs.readFileSync(file, 'latin1'), 'A\nb\nc\nd\n');
  const misspelt = await qg.batchReplace([{ file, start_lin: 2, new_text: 'x' }]);
  assert.match(misspelt.errors[0], /unknown member 'start_lin'/);
});

test('replace previews, then applies what was previewed; a refused call rejects', async () => {
  const dir = tempTree({ 'a.c': 'foo_bar(1);\r\n', 'b.c': 'FOO_BAR = foo_bar;\n' });
  const a = path.join(dir, 'a.c');
  const b = path.join(dir, 'b.c');
  const preview = await qg.replace(dir, '\\b(foo)_bar\\b', '${1}_baz',
    { regex: true, ignore_case: true, dry_run: true });
  assert.deepStrictEqual(preview.files.map((f) => [f.file, f.replacements]), [[a, 1], [b, 2]]);
  assert.match(preview.files[0].diff, /^-foo_bar\(1\);\r\n\+foo_baz\(1\);\r\n$/m);
  assert.strictEqual(fs.readFileSync(a, 'latin1'), 'foo_bar(1);\r\n');
  fs.writeFileSync(b, 'foo_bar changed\n');
  const expect = Object.fromEntries(preview.files.map((f) => [f.file, f.sha256]));
  const result = await qg.replace(dir, '\\b(foo)_bar\\b', '${1}_baz',
    { regex: true, ignore_case: true, expect });
  assert.strictEqual(result.success, false);
  assert.deepStrictEqual(result.failures.map((f) => [f.file, f.status]), [[b, 'GREP_E_IO']]);
  assert.strictEqual(fs.readFileSync(a, 'latin1'), 'foo_baz(1);\r\n');
  assert.strictEqual(fs.readFileSync(b, 'latin1'), 'foo_bar changed\n');
  await assert.rejects(qg.replace(dir, '(x)', '$2', { regex: true }),
    (e) => e.code === 'GREP_E_ARGUMENT' && /a group the pattern does not have/.test(e.message));
  await assert.rejects(qg.replace(dir, 'x', 'y', { expect: 'not an object' }),
    (e) => e.code === 'GREP_E_ARGUMENT' && /Option 'expect' takes/.test(e.message));
});

test('regex: true is the standard syntax; listFiles names what a search reads', async () => {
  const dir = tempTree({ 's.c': 'pthread_mutex_lock(&m);\nyear 2024\n', 'sub/t.h': 'x\n' });
  const pattern = 'pthread_(mutex|cond)_lock|[0-9]{4}';
  const standard = await qg.search(dir, pattern, { syntax: 'standard' });
  assert.strictEqual(standard.total_matches, 2);
  assert.deepStrictEqual((await qg.search(dir, pattern, { regex: true })).matches, standard.matches);
  assert.strictEqual((await qg.search(dir, pattern, { syntax: 'dialect' })).total_matches, 0);
  const files = await qg.listFiles(dir, { include_globs: ['*.c'] });
  assert.deepStrictEqual(files, [path.join(dir, 's.c')]);
});

test('the standard syntax: alternations, counts, word boundaries; bad patterns say where', async () => {
  const dir = tempTree({ 's.c': 'pthread_mutex_lock(&m);\nyear 2024\nmutexes\n' });
  const doc = await qg.search(dir, 'pthread_(mutex|cond)_lock|[0-9]{4}|\\bmutex\\b', { syntax: 'standard' });
  assert.deepStrictEqual(doc.matches.map((m) => [m.line, m.col]), [[1, 1], [2, 6]]);
  await assert.rejects(qg.search(dir, 'a[b', { syntax: 'standard' }),
    (e) => e.code === 'GREP_E_ARGUMENT' && e.message === 'Invalid pattern: unterminated character set at byte 1');
  await assert.rejects(qg.search(dir, 'x', { syntax: 'perl' }), /Unknown syntax 'perl'/);
});

test('unicode: classes, properties and case folding beyond ASCII', async () => {
  const dir = tempTree({ 'u.txt': 'Привет мир\nStraße\nσ Σ ς\n' });
  // The text of each match of each line (columns and lengths count bytes).
  const texts = (doc) => doc.matches.map((m) => m.submatches.map((s) =>
    Buffer.from(m.text).subarray(s.col - 1, s.col - 1 + s.length).toString()));
  const words = await qg.search(dir, '\\w+', { syntax: 'standard', unicode: true, submatches: true });
  assert.deepStrictEqual(texts(words), [['Привет', 'мир'], ['Straße'], ['σ', 'Σ', 'ς']]);
  const ascii = await qg.search(dir, '\\w+', { syntax: 'standard', submatches: true });
  assert.deepStrictEqual(texts(ascii), [['Stra', 'e']]);
  const folded = await qg.search(dir, 'ПРИВЕТ', { ignore_case: true, unicode: true });
  assert.deepStrictEqual(folded.matches.map((m) => m.line), [1]);
  assert.strictEqual((await qg.search(dir, 'ПРИВЕТ', { ignore_case: true })).total_matches, 0);
  const sigma = await qg.search(dir, '(?i)σ', { syntax: 'standard', unicode: true, submatches: true });
  assert.strictEqual(sigma.matches[0].submatches.length, 3);
  const cyrillic = await qg.search(dir, '\\p{Cyrillic}+$', { syntax: 'standard', match_length: true });
  assert.deepStrictEqual(cyrillic.matches.map((m) => [m.col, m.length]), [[14, 6]]);
});

test('statuses are the header\'s, and object options are read strictly', async () => {
  const header = fs.readFileSync(path.join(sourceRoot, 'include', 'quenmar_grep.h'), 'utf8');
  const body = /typedef enum grep_status \{([\s\S]*?)\} grep_status;/.exec(header)[1];
  const named = Object.fromEntries([...body.matchAll(/^\s*(GREP_[A-Z_]+)\s*=\s*(-?\d+)/gm)]
    .map((m) => [m[1], Number(m[2])]));
  assert.deepStrictEqual({ ...qg.Status }, named);
  const dir = tempTree({ 'a.txt': 'x\n' });
  await assert.rejects(qg.search(dir, 'x', { ignor_case: true }),
    { code: 'GREP_E_ARGUMENT', message: "Unknown option 'ignor_case'" });
  await assert.rejects(qg.search(dir, 'x', { threads: '2' }),
    { code: 'GREP_E_ARGUMENT', message: "Option 'threads' takes an integer within 32 bits" });
  // A text is passed as it is: the core keys' lenient reading stands.
  assert.strictEqual((await qg.search(dir, 'x', '{"ignor_case":true}')).total_matches, 1);
  const keys = qg.optionsSchema().map((o) => o.key);
  assert.ok(keys.includes('path_globs') && keys.includes('strict'));
});

test('searchLines gives the printed lines and the summary', async () => {
  const dir = tempTree({ 'a.txt': 'x\ny\nx y\n' });
  const file = path.join(dir, 'a.txt');
  const printed = await qg.searchLines(dir, 'x', { context_lines: 1 });
  assert.strictEqual(printed.text, `${file}:1:1:x\n${file}-2-y\n${file}:3:1:x y\n`);
  assert.deepStrictEqual([printed.summary.total_matches, printed.summary.files_matched], [2, 1]);
  const counted = await qg.searchLines(dir, 'x', { print: 'count' });
  assert.strictEqual(counted.text, `${file}:2\n`);
  const buffered = await qg.searchLines('buf', 'y', { text: Buffer.from('a\ny\n'), print: 'matches' });
  assert.strictEqual(buffered.text, 'buf:2:1:y\n');
});
