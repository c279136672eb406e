'use strict';
// search's output modes, path globs, ignore files and pages, through the
// SDK's client, against ripgrep on the same generated tree: the content
// lines, the files (rg -l) and the counts (rg -c) must be ripgrep's, row for
// row, and the pages of a listing, followed by their next offsets, must put
// the unpaged listing back together.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { call, startServer, tempDir, writeTree } = require('./mcp_support');

const WORDS = ['alpha', 'beta', 'gamma', 'delta', 'also', 'alphabet', 'x', 'Alpha'];

/** A tree of `count` files of generated lines, the same for every run, with ignore files. */
function generatedTree(root, count) {
  let seed = 12345;
  const next = (n) => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return Math.floor(seed / 65536) % n;  // the high bits: the low ones repeat in short cycles
  };
  const folders = ['', 'src', 'src/core', 'src/ui', 'lib', 'gen', 'docs', 'docs/old', 'logs'];
  const files = {};
  for (let i = 0; i < count; ++i) {
    const folder = folders[next(folders.length)];
    const ext = ['c', 'h', 'txt', 'log', 'md'][next(5)];
    const lines = Array.from({ length: 1 + next(12) }, () =>
      Array.from({ length: 1 + next(6) }, () => WORDS[next(WORDS.length)]).join(' '));
    files[path.join(folder, `f${i}.${ext}`)] = `${lines.join('\n')}\n`;
  }
  Object.assign(files, {
    '.gitignore': 'gen/\n*.log\n!logs/keep.log\n',
    'docs/.gitignore': 'old/\n',
    '.ignore': 'lib/f1*\n',
    'logs/keep.log': 'alpha kept\n',
    '.hidden/f.c': 'alpha hidden\n',
  });
  writeTree(root, files);
  // A repository's top: the ignore files above a folder searched are read up to it.
  fs.mkdirSync(path.join(root, '.git'));
}

const root = tempDir('qg-mcp-search-');
generatedTree(root, 120);
let client;
test.before(async () => {
  client = await startServer([root]);
});
test.after(async () => {
  await client.close();
});

/**
 * ripgrep's rows for `flags` (which end with the pattern, and a path when
 * one is searched), run in the root on '.' when no path is given, with the
 * './' it puts before each path taken off.
 */
function ripgrep(flags) {
  const where = flags.at(-1) === 'src' ? [] : ['.'];
  const run = spawnSync('rg', ['--no-require-git', '--sort', 'path', '--no-heading', ...flags, ...where],
    { cwd: root, encoding: 'utf8' });
  assert.ok(run.status === 0 || run.status === 1, `rg ${flags.join(' ')}: ${run.stderr}`);
  return run.stdout.split('\n').filter((line) => line !== '').map((line) => line.replace(/^\.\//, ''));
}

const CLOSING = /^\d+ (match|matches|file|files|matching lines?)( in \d+ files?)?( shown; more exist\..*)?$|^Next page: /;

/** The rows of a search's answer: its lines less the closing ones. */
function rowsOf(result) {
  assert.strictEqual(result.isError, false, result.text);
  return result.text.split('\n').filter((line) => !CLOSING.test(line));
}

// Each case: the tool's arguments, and ripgrep's flags for the same search.
const CASES = [
  [{ pattern: 'alpha' }, ['alpha']],
  [{ pattern: 'al(pha|so)\\b', regex: true }, ['al(pha|so)\\b']],
  [{ pattern: 'ALPHA', ignore_case: true, whole_word: true }, ['-i', '-w', 'ALPHA']],
  [{ pattern: 'beta', glob: 'src/**' }, ['-g', 'src/**', 'beta']],
  [{ pattern: 'beta', glob: ['**/*.c', '!src/core/**'] }, ['-g', '**/*.c', '-g', '!src/core/**', 'beta']],
  // include filters names and, unlike a glob, never brings back an ignored file: a type does that.
  [{ pattern: 'gamma', include: '*.h' }, ['--type-add', 'hdr:*.h', '-t', 'hdr', 'gamma']],
  [{ pattern: 'alpha', gitignore: false }, ['--no-ignore-vcs', 'alpha']],
  [{ pattern: 'alpha', gitignore: false, dot_ignore: false }, ['--no-ignore-vcs', '--no-ignore-dot', 'alpha']],
  [{ pattern: 'delta', path: 'src' }, ['delta', 'src']],
];

// Each output mode: the tool's arguments for it, ripgrep's flags.
const MODES = [
  [{ max_results: 2000 }, ['-n', '--column']],
  [{ max_results: 2000, context: 1 }, ['-n', '--column', '-C', '1']],
  [{ output_mode: 'files_with_matches', head_limit: 10000 }, ['-l']],
  [{ output_mode: 'count', head_limit: 10000 }, ['-c']],
];

test('each output mode lists what ripgrep lists, row for row', async () => {
  for (const [args, flags] of CASES) {
    for (const [modeArgs, modeFlags] of MODES) {
      const want = ripgrep([...modeFlags, ...flags]);
      const r = await call(client, 'search', { ...args, ...modeArgs });
      const label = JSON.stringify({ ...args, ...modeArgs });
      assert.deepStrictEqual(rowsOf(r), want, label);
      assert.ok(want.length > 0 || args.path !== undefined, `${label} finds something`);
      assert.strictEqual(r.structured.more, false, label);
    }
  }
  // The ignore files do hide files: without them, more are found.
  assert.ok(ripgrep(['-l', '--no-ignore', 'alpha']).length > ripgrep(['-l', 'alpha']).length);
});

test('the structured content of each mode holds the listed rows', async () => {
  const files = await call(client, 'search', { pattern: 'beta', output_mode: 'files_with_matches' });
  assert.deepStrictEqual(files.structured.paths, ripgrep(['-l', 'beta']));
  assert.deepStrictEqual(files.structured.matches, []);
  const counts = await call(client, 'search', { pattern: 'beta', output_mode: 'count' });
  assert.deepStrictEqual(counts.structured.counts.map((c) => `${c.path}:${c.count}`), ripgrep(['-c', 'beta']));
  const total = counts.structured.counts.reduce((sum, c) => sum + c.count, 0);
  assert.strictEqual(counts.text.split('\n').at(-1), `${total} matching lines in ${counts.structured.files} files`);
});

test('pages, each taken from the offset the one before gives, make up the unpaged listing', async () => {
  const listings = [
    [{ pattern: 'alpha', max_results: 2000 }, 7],
    [{ pattern: 'gamma', context: 2, max_results: 2000 }, 5],
    [{ pattern: 'alpha', max_results: 4 }, 50],
    [{ pattern: 'beta', output_mode: 'files_with_matches', head_limit: 10000 }, 4],
    [{ pattern: 'beta', output_mode: 'count', head_limit: 10000 }, 9],
  ];
  for (const [args, size] of listings) {
    const whole = rowsOf(await call(client, 'search', args));
    const paged = [];
    let offset = 0;
    for (let pages = 0; offset !== undefined; ++pages) {
      assert.ok(pages < 1000, `${JSON.stringify(args)}: the pages end`);
      const r = await call(client, 'search', { ...args, head_limit: size, offset });
      const rows = rowsOf(r);
      assert.ok(rows.length <= size, JSON.stringify(args));
      paged.push(...rows);
      const next = r.structured.next_offset;
      if (next !== undefined) {
        assert.match(r.text.split('\n').at(-1),
          new RegExp(`^Next page: call search again with the same arguments and offset=${next}\\.$`));
        assert.ok(next > offset, JSON.stringify(args));
      }
      offset = next;
    }
    if (args.max_results === 4) {
      // max_results bounds each page, not the listing: the pages go on past it.
      assert.ok(paged.length > whole.length, JSON.stringify(args));
      assert.deepStrictEqual(paged.slice(0, whole.length), whole);
    } else {
      assert.deepStrictEqual(paged, whole, JSON.stringify(args));
    }
  }
});

test('an include glob with a / is refused, naming glob, and so is .ignore off alone; ' +
  'unknown modes are refused', async () => {
  const refusals = [
    [{ include: ['*.c', 'src/*.c'] }, "include takes file name globs, and 'src/*.c' holds a '/', " +
      "which no name does: give globs over paths as glob instead (glob: 'src/*.c')"],
    [{ dot_ignore: false }, 'dot_ignore: false passes over .ignore files only with gitignore: false: ' +
      '.ignore files are honoured whenever .gitignore files are'],
  ];
  for (const [args, message] of refusals) {
    for (const [tool, more] of [['search', {}], ['replace_pattern', { replacement: 'x', dry_run: false }]]) {
      const r = await call(client, tool, { pattern: 'alpha', ...args, ...more });
      assert.deepStrictEqual([r.isError, r.text], [true, message], tool);
    }
  }
  for (const [args, message] of [
    [{ pattern: 'a', output_mode: 'lines' }, /output_mode/],
    [{ pattern: 'a', head_limit: 0 }, /head_limit/],
    [{ pattern: 'a', offset: -1 }, /offset/],
    [{ pattern: 'a', globs: 'x' }, /Unrecognized key: "globs"/],
  ]) {
    const r = await call(client, 'search', args);
    assert.strictEqual(r.isError, true, JSON.stringify(args));
    assert.match(r.text, /Input validation error/);
    assert.match(r.text, message);
  }
});

test('links are not followed unless asked, and never lead outside the roots', async () => {
  const linked = tempDir('qg-mcp-search-links-');
  const outside = tempDir('qg-mcp-search-out-');
  writeTree(linked, { 'real/a.txt': 'needle in\n' });
  writeTree(outside, { 'b.txt': 'needle out\n' });
  fs.symlinkSync(path.join(linked, 'real'), path.join(linked, 'inner'));
  fs.symlinkSync(outside, path.join(linked, 'outer'));
  const server = await startServer([linked]);
  try {
    const rows = [
      [{}, ['real/a.txt']],
      [{ follow_links: false }, ['real/a.txt']],
      // The walk reads a file once, by the first path it meets it by.
      [{ follow_links: true }, ['inner/a.txt']],
    ];
    for (const [args, want] of rows) {
      const r = await call(server, 'search', { pattern: 'needle', output_mode: 'files_with_matches', ...args });
      assert.deepStrictEqual(r.structured.paths, want, JSON.stringify(args));
      const lines = await call(server, 'search', { pattern: 'needle', ...args });
      assert.ok(!lines.text.includes('out'), lines.text);
    }
  } finally {
    await server.close();
  }
});
