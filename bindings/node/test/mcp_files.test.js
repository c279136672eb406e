'use strict';
// The listing tools through the SDK's client: list_directory and
// directory_tree against what fs says of the same generated tree (a link
// shown as a link, one to a folder outside the roots never entered),
// find_files against ripgrep's file list (rg --files -g GLOB) on a
// generated tree with ignore files, its order against the files' times and
// its pages against the unpaged listing, and every path outside the roots
// denied.
const test = require('node:test');
const assert = require('node:assert');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { call, startServer, tempDir, writeTree } = require('./mcp_support');

const root = tempDir('qg-mcp-files-');
const outside = tempDir('qg-mcp-files-out-');
writeTree(outside, { 'secret.txt': 'not to be listed\n', 'deep/more.txt': 'nor this\n' });
writeTree(root, {
  'README.md': '# top\n',
  'src/main.c': 'int main(void) { return 0; }\n',
  'src/util/strings.c': 'char *dup(const char *);\n',
  'src/util/deep/er/most.c': 'int most;\n',
  'docs/guide.md': 'guide\n',
  'docs/empty.txt': '',
  'Zeta.txt': 'upper case sorts first\n',
  'a b.txt': 'a name with a space\n',
});
fs.mkdirSync(path.join(root, 'empty-folder'));
fs.symlinkSync(outside, path.join(root, 'outlink'));
fs.symlinkSync(path.join(root, 'src'), path.join(root, 'srclink'));
fs.symlinkSync('main.c', path.join(root, 'src', 'main-link.c'));
const fifo = spawnSync('mkfifo', [path.join(root, 'docs', 'pipe')]);
assert.strictEqual(fifo.status, 0, 'mkfifo makes the entry of kind other');

/** A tree of `count` files, the same for every run, with ignore files and set modification times. */
function generatedTree(dir, count) {
  let seed = 4242;
  const next = (n) => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return Math.floor(seed / 65536) % n;
  };
  const folders = ['', 'src', 'src/core', 'src/ui', 'lib', 'gen', 'docs', 'docs/old', 'logs'];
  const files = {};
  for (let i = 0; i < count; ++i) {
    files[path.join(folders[next(folders.length)], `f${i}.${['c', 'h', 'txt', 'log', 'md'][next(5)]}`)] = `${i}\n`;
  }
  Object.assign(files, {
    '.gitignore': 'gen/\n*.log\n!logs/keep.log\n',
    'docs/.gitignore': 'old/\n',
    '.ignore': 'lib/f1*\n',
    'logs/keep.log': 'kept\n',
    '.hidden/f.c': 'hidden\n',
  });
  writeTree(dir, files);
  fs.mkdirSync(path.join(dir, '.git'));
  // Times a few seconds apart, some shared, so that ties are ordered by path.
  for (const name of Object.keys(files)) {
    const seconds = 1700000000 + next(40) * 60;
    fs.utimesSync(path.join(dir, name), seconds, seconds);
  }
}

const findRoot = tempDir('qg-mcp-find-');
generatedTree(findRoot, 150);

let client;
let finder;
test.before(async () => {
  client = await startServer([root]);
  finder = await startServer([findRoot]);
});
test.after(async () => {
  await client.close();
  await finder.close();
});

/** What fs says of one folder's entries: { name, kind, size? }, sorted by name. */
function fsEntries(dir) {
  return fs.readdirSync(dir).sort().map((name) => {
    const stats = fs.lstatSync(path.join(dir, name));
    if (stats.isSymbolicLink()) return { name, kind: 'link' };
    if (stats.isDirectory()) return { name, kind: 'folder' };
    if (stats.isFile()) return { name, kind: 'file', size: stats.size };
    return { name, kind: 'other' };
  });
}

/** What fs says of the tree below `dir` to `depth` levels: { path, kind, size?, level }. */
function fsTree(dir, depth, below = '', level = 1) {
  return fsEntries(dir).flatMap(({ name, ...entry }) => {
    const rel = below === '' ? name : `${below}/${name}`;
    const here = [{ path: rel, ...entry, level }];
    if (entry.kind !== 'folder' || level === depth) return here;
    return [...here, ...fsTree(path.join(dir, name), depth, rel, level + 1)];
  });
}

/** The line a listing shows for an entry called `name`. */
function lineOf(name, entry, indent = '') {
  if (entry.kind === 'folder') return `${indent}${name}/`;
  if (entry.kind === 'file') return `${indent}${name} (${entry.size} ${entry.size === 1 ? 'byte' : 'bytes'})`;
  return `${indent}${name} (${entry.kind})`;
}

/** The rows of a listing's answer: its lines less the closing one. */
function rowsOf(result) {
  assert.strictEqual(result.isError, false, result.text);
  return result.text.split('\n').slice(0, -1);
}

// Each case: list_directory's arguments, and the folder fs reads for it.
const LIST_CASES = [
  [{}, root],
  [{ path: '.' }, root],
  [{ path: 'src' }, path.join(root, 'src')],
  [{ path: 'docs' }, path.join(root, 'docs')],
  [{ path: path.join(root, 'src', 'util') }, path.join(root, 'src', 'util')],
  [{ path: 'empty-folder' }, path.join(root, 'empty-folder')],
  [{ path: 'srclink' }, path.join(root, 'src')],
];

test('list_directory lists what fs says of each folder', async () => {
  for (const [args, dir] of LIST_CASES) {
    const expected = fsEntries(dir);
    const result = await call(client, 'list_directory', args);
    assert.deepStrictEqual(rowsOf(result), expected.map((e) => lineOf(e.name, e)), JSON.stringify(args));
    assert.deepStrictEqual(result.structured.entries, expected, JSON.stringify(args));
    assert.strictEqual(result.structured.omitted, 0);
    assert.strictEqual(result.text.split('\n').at(-1),
      `${expected.length} ${expected.length === 1 ? 'entry' : 'entries'}`);
  }
});

// Each case: directory_tree's arguments, the folder and the depth fs walks.
const TREE_CASES = [
  [{}, root, 2],
  [{ depth: 1 }, root, 1],
  [{ depth: 3 }, root, 3],
  [{ depth: 20 }, root, 20],
  [{ path: 'src', depth: 2 }, path.join(root, 'src'), 2],
  [{ path: 'src/util', depth: 5 }, path.join(root, 'src', 'util'), 5],
];

test('directory_tree shows what fs says, each folder\'s entries below it', async () => {
  for (const [args, dir, depth] of TREE_CASES) {
    const expected = fsTree(dir, depth);
    const result = await call(client, 'directory_tree', args);
    const name = (p) => p.split('/').at(-1);
    assert.deepStrictEqual(rowsOf(result),
      expected.map((e) => lineOf(name(e.path), e, '  '.repeat(e.level - 1))), JSON.stringify(args));
    assert.deepStrictEqual(result.structured.entries,
      expected.map(({ level, ...e }) => e), JSON.stringify(args));
    assert.strictEqual(result.structured.complete, true);
  }
});

// Each case: the tool, its arguments, the entries in all, the entries shown.
const LIMIT_CASES = [
  ['list_directory', { limit: 3 }, fsEntries(root).length, 3],
  ['list_directory', { limit: 10000 }, fsEntries(root).length, fsEntries(root).length],
  ['directory_tree', { depth: 20, limit: 4 }, fsTree(root, 20).length, 4],
  ['directory_tree', { depth: 20, limit: 1 }, fsTree(root, 20).length, 1],
];

test('a cap on entries shows the first ones and says how many it left out', async () => {
  for (const [tool, args, all, shown] of LIMIT_CASES) {
    const result = await call(client, tool, args);
    const full = await call(client, tool, { ...args, limit: 10000 });
    assert.deepStrictEqual(rowsOf(result), rowsOf(full).slice(0, shown), `${tool} ${JSON.stringify(args)}`);
    assert.strictEqual(result.structured.omitted, all - shown);
    const closing = result.text.split('\n').at(-1);
    if (all === shown) assert.strictEqual(closing, `${all} entries`);
    else assert.match(closing, new RegExp(`^${shown} entr(y|ies) shown; ${all - shown} more left out\\.`));
  }
});

test('a link is listed as a link and never entered', async () => {
  const tree = await call(client, 'directory_tree', { depth: 20 });
  const kinds = Object.fromEntries(tree.structured.entries.map((e) => [e.path, e.kind]));
  assert.deepStrictEqual([kinds.outlink, kinds.srclink, kinds['src/main-link.c']], ['link', 'link', 'link']);
  assert.deepStrictEqual(tree.structured.entries.filter((e) => /^(outlink|srclink)\//.test(e.path)), []);
  assert.doesNotMatch(tree.text, /secret|more\.txt/);
  const top = await call(client, 'list_directory', {});
  assert.ok(rowsOf(top).includes('outlink (link)'), top.text);
});

// Each case: a path outside the roots, or one that reaches out through a link.
const DENIED = ['..', '/', outside, 'outlink', 'outlink/deep', 'src/../../', `${root}/../${path.basename(outside)}`];

test('paths outside the roots are denied', async () => {
  for (const tool of ['list_directory', 'directory_tree']) {
    for (const given of DENIED) {
      const result = await call(client, tool, { path: given });
      assert.strictEqual(result.isError, true, `${tool} ${given}`);
      assert.strictEqual(result.text, `Access denied: '${given}' is outside the allowed roots`);
    }
  }
});

// Each case: the tool, arguments it refuses, and the message's start.
const REFUSED = [
  ['list_directory', { path: 'README.md' }, "'README.md' is not a folder"],
  ['list_directory', { path: 'missing' }, "Cannot list 'missing': ENOENT"],
  ['directory_tree', { path: 'src/main.c' }, "'src/main.c' is not a folder"],
  ['list_directory', { path: 'src', depth: 2 }, 'MCP error -32602'],
  ['directory_tree', { depth: 0 }, 'MCP error -32602'],
  ['directory_tree', { depth: 2, limits: 5 }, 'MCP error -32602'],
  ['list_directory', { limit: 0 }, 'MCP error -32602'],
  ['find_files', { dot_ignore: false }, 'dot_ignore: false passes over .ignore files only with gitignore: false'],
  ['find_files', { sort: 'size' }, 'MCP error -32602'],
  ['find_files', { globs: '*.c' }, 'MCP error -32602'],
  ['find_files', { limit: 10001 }, 'MCP error -32602'],
];

test('what a listing cannot take is refused with its reason', async () => {
  for (const [tool, args, message] of REFUSED) {
    const result = await call(client, tool, args);
    assert.strictEqual(result.isError, true, `${tool} ${JSON.stringify(args)}`);
    assert.ok(result.text.startsWith(message), result.text);
  }
});

/**
 * ripgrep's file list for `flags`, run in the find tree on `where`, with the
 * './' before each path taken off.
 */
function ripgrepFiles(flags, where = '.') {
  const run = spawnSync('rg', ['--files', '--no-require-git', ...flags, where], { cwd: findRoot, encoding: 'utf8' });
  assert.ok(run.status === 0 || run.status === 1, `rg ${flags.join(' ')}: ${run.stderr}`);
  return run.stdout.split('\n').filter((line) => line !== '').map((line) => line.replace(/^\.\//, ''));
}

/** The paths of a find_files answer: its lines less the closing ones. */
function foundPaths(result) {
  assert.strictEqual(result.isError, false, result.text);
  assert.deepStrictEqual(result.text.split('\n').slice(0, result.structured.paths.length),
    result.structured.paths);
  return result.structured.paths;
}

// Each case: find_files' arguments, and ripgrep's flags for the same files.
const FIND_CASES = [
  [{}, []],
  [{ glob: '**/*.c' }, ['-g', '**/*.c']],
  [{ glob: '*.md' }, ['-g', '*.md']],
  [{ glob: 'src/{core,ui}/*.c' }, ['-g', 'src/{core,ui}/*.c']],
  [{ glob: ['src/**', '!**/*.h'] }, ['-g', 'src/**', '-g', '!**/*.h']],
  [{ glob: '!**/*.txt' }, ['-g', '!**/*.txt']],
  [{ glob: 'logs/*.log' }, ['-g', 'logs/*.log']],
  [{ glob: 'lib/*' }, ['-g', 'lib/*']],
  [{ gitignore: false }, ['--no-ignore-vcs']],
  [{ gitignore: false, dot_ignore: false }, ['--no-ignore-vcs', '--no-ignore-dot']],
  [{ gitignore: false, glob: ['**/*.log', 'docs/**'] }, ['--no-ignore-vcs', '-g', '**/*.log', '-g', 'docs/**']],
];

test('find_files lists the files ripgrep lists for the same globs', async () => {
  for (const [args, flags] of FIND_CASES) {
    const expected = ripgrepFiles(flags).sort();
    assert.ok(expected.length > 0, `rg ${flags.join(' ')} lists files`);
    const result = await call(finder, 'find_files', { ...args, sort: 'path', limit: 10000 });
    assert.deepStrictEqual(foundPaths(result), expected, JSON.stringify(args));
    assert.strictEqual(result.structured.total, expected.length);
  }
  // The ignore files make a difference, so the cases above check them.
  assert.ok(ripgrepFiles(['--no-ignore']).length > ripgrepFiles([]).length);
});

test('find_files lists the newest first, files of one time by path', async () => {
  for (const [args] of FIND_CASES) {
    const paths = foundPaths(await call(finder, 'find_files', { ...args, limit: 10000 }));
    const times = paths.map((p) => fs.statSync(path.join(findRoot, p)).mtimeMs);
    for (let i = 1; i < paths.length; ++i) {
      const order = `${paths[i - 1]} before ${paths[i]}`;
      assert.ok(times[i - 1] >= times[i], order);
      if (times[i - 1] === times[i]) assert.ok(paths[i - 1] < paths[i], order);
    }
    const byPath = foundPaths(await call(finder, 'find_files', { ...args, sort: 'path', limit: 10000 }));
    assert.deepStrictEqual([...paths].sort(), byPath, JSON.stringify(args));
  }
});

// Each case: the arguments of every page, the page size.
const PAGE_CASES = [
  [{}, 7],
  [{ sort: 'path' }, 1],
  [{ glob: '**/*.c' }, 5],
  [{ gitignore: false, sort: 'path' }, 50],
];

test('find_files pages, each from the offset the one before gave, make up the whole listing', async () => {
  for (const [args, limit] of PAGE_CASES) {
    const whole = foundPaths(await call(finder, 'find_files', { ...args, limit: 10000 }));
    const pages = [];
    let offset = 0;
    for (;;) {
      const page = await call(finder, 'find_files', { ...args, limit, offset });
      pages.push(...foundPaths(page));
      if (!page.structured.more) break;
      assert.strictEqual(page.structured.next_offset, offset + limit);
      assert.strictEqual(page.text.split('\n').at(-1),
        `Next page: call find_files again with the same arguments and offset=${offset + limit}.`);
      offset = page.structured.next_offset;
    }
    assert.ok(pages.length > limit, `${JSON.stringify(args)} takes more than one page`);
    assert.deepStrictEqual(pages, whole, JSON.stringify(args));
  }
});

test('find_files lists a folder below the root, and no file outside the roots', async () => {
  const src = foundPaths(await call(finder, 'find_files', { path: 'src', sort: 'path', limit: 10000 }));
  assert.deepStrictEqual(src, ripgrepFiles([], 'src').sort());
  const srcC = foundPaths(await call(finder, 'find_files', { path: 'src', glob: '**/*.c', sort: 'path' }));
  assert.deepStrictEqual(srcC, ripgrepFiles(['-g', '**/*.c'], 'src').sort());
  const linked = foundPaths(await call(client, 'find_files', { follow_links: true, sort: 'path' }));
  const plain = foundPaths(await call(client, 'find_files', { sort: 'path' }));
  assert.ok(linked.length > plain.length, 'the link inside the root is followed');
  assert.ok(linked.every((p) => !/secret|more\.txt/.test(p)), linked.join(' '));
  for (const given of DENIED) {
    const result = await call(client, 'find_files', { path: given });
    assert.strictEqual(result.isError, true, given);
    assert.strictEqual(result.text, `Access denied: '${given}' is outside the allowed roots`);
  }
});
