'use strict';
// The folder tools: list_directory shows one level of a folder, and
// directory_tree the levels below it down to a depth, each entry with its
// kind (file, folder, link, other) and a file's size. Entries are taken with
// lstat, so a link is shown as a link and never entered: nothing outside the
// folder named is listed, whatever its links reach. Entries come sorted by
// name (in the order of their UTF-16 units, the same on every system), each
// folder's entries right below it in the tree, and a cap on entries says how
// many it left out.

const fs = require('node:fs');
const path = require('node:path');
const { confine } = require('./confine');
const { Budget, MAX_REPLY_TEXT, counted, cutLine, textResult } = require('./output');

const DEFAULT_ENTRIES = 1000;
const MAX_ENTRIES = 10000;
const DEFAULT_DEPTH = 2;
const MAX_DEPTH = 20;
/** Entries a tree walks at most to count those it leaves out. */
const MAX_COUNTED = 100000;

/** The kind of an entry from its lstat: file, folder, link or other. */
function kindOf(stats) {
  if (stats.isSymbolicLink()) return 'link';
  if (stats.isDirectory()) return 'folder';
  if (stats.isFile()) return 'file';
  return 'other';
}

/** Orders names by their UTF-16 units, so that a listing is the same on every system. */
function byName(a, b) {
  if (a < b) return -1;
  return a > b ? 1 : 0;
}

/** Calls of `work` that run at once, so that a large folder does not fill the pool's queue. */
const BATCH = 32;

/**
 * `work(item)` for each of `items`, BATCH at a time, in their order; items
 * whose work gives null are left out.
 */
async function inBatches(items, work) {
  const done = [];
  for (let i = 0; i < items.length; i += BATCH) {
    const batch = await Promise.all(items.slice(i, i + BATCH).map(work));
    done.push(...batch.filter((entry) => entry !== null));
  }
  return done;
}

/** The entry `name` of the folder `dir`, { name, kind, size? } (size for a file), or null when it is gone. */
async function entryOf(dir, name) {
  let stats;
  try {
    stats = await fs.promises.lstat(path.join(dir, name));
  } catch {
    return null;
  }
  const entry = { name, kind: kindOf(stats) };
  if (entry.kind === 'file') entry.size = stats.size;
  return entry;
}

/**
 * The first `most` entries of the folder `real` by name, and the number of
 * names after them (`unexamined`): only the entries wanted are looked at.
 * An entry gone before its lstat is left out.
 */
async function folderEntries(real, most = Infinity) {
  const names = (await fs.promises.readdir(real)).sort(byName);
  const wanted = names.slice(0, most);
  const entries = await inBatches(wanted, (name) => entryOf(real, name));
  return { entries, unexamined: names.length - wanted.length };
}

/** The confined folder a call names (default: the first root); throws unless it is one. */
async function folderOf(server, given) {
  const target = confine(server.roots, given ?? server.roots[0]);
  let stats;
  try {
    stats = await fs.promises.stat(target.real);
  } catch (error) {
    throw new Error(`Cannot list '${given ?? target.shown}': ${error.code ?? error.message}`);
  }
  if (!stats.isDirectory()) throw new Error(`'${given ?? target.shown}' is not a folder`);
  return target;
}

/** One entry as a line: folders end in '/', links in ' (link)', files give their size. */
function entryLine(entry, indent) {
  const name = cutLine(entry.name);
  if (entry.kind === 'folder') return `${indent}${name}/`;
  if (entry.kind === 'file') return `${indent}${name} (${counted(entry.size, 'byte', 'bytes')})`;
  return `${indent}${name} (${entry.kind})`;
}

/**
 * Takes `entries` (each with a `line`) while `limit` and the reply's
 * budgets allow; returns { shown, omitted }.
 */
function cappedEntries(entries, limit) {
  const text = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing line
  const structured = new Budget(MAX_REPLY_TEXT);
  const shown = [];
  for (const entry of entries) {
    if (shown.length === limit) break;
    const { line, ...plain } = entry;
    if (!text.add(line) || !structured.add(plain)) break;
    shown.push(entry);
  }
  return { shown, omitted: entries.length - shown.length };
}

/** The line that closes a listing: how many entries it shows and how many it left out. */
function closingLine(shown, omitted, atLeast) {
  const count = counted(shown, 'entry', 'entries');
  if (omitted === 0) return count;
  return `${count} shown; ${atLeast ? 'at least ' : ''}${omitted} more left out. Raise limit ` +
    `(at most ${MAX_ENTRIES}) or list a folder below this one.`;
}

/** Runs `work` in the reads' lane, within the call's time limit counted from `arrived`. */
async function inReadLane(server, arrived, work) {
  const release = await server.lanes.reads.acquire(arrived + server.timeoutMs);
  try {
    return await work(arrived + server.timeoutMs);
  } finally {
    release();
  }
}

async function listDirectory(server, args) {
  const arrived = Date.now();
  const folder = await folderOf(server, args.path);
  return inReadLane(server, arrived, async () => {
    const limit = args.limit ?? DEFAULT_ENTRIES;
    const listed = await folderEntries(folder.real, limit);
    const entries = listed.entries.map((e) => ({ ...e, line: entryLine(e, '') }));
    const capped = cappedEntries(entries, limit);
    const omitted = capped.omitted + listed.unexamined;
    const lines = [...capped.shown.map((e) => e.line), closingLine(capped.shown.length, omitted, false)];
    const plain = capped.shown.map(({ line, ...entry }) => entry);
    return textResult(lines.join('\n'), { path: folder.shown, entries: plain, omitted });
  });
}

/**
 * The entries below `real` down to `depth` levels, each with its `path`
 * below the folder listed and `depth` (1 for the folder's own), a folder's
 * entries right after it; the walk stops at `most` entries or `deadline`.
 * Links are never entered. Returns { entries, complete, timedOut }.
 */
async function treeEntries(real, depth, most, deadline) {
  const entries = [];
  let timedOut = false;
  const walk = async (dir, below, level) => {
    let children;
    try {
      children = (await folderEntries(dir, most - entries.length)).entries;
    } catch {
      return;  // a folder that cannot be read shows as an entry with nothing below it
    }
    for (const child of children) {
      if (entries.length >= most) return;
      if (Date.now() >= deadline) {
        timedOut = true;
        return;
      }
      const rel = below === '' ? child.name : `${below}/${child.name}`;
      entries.push({ ...child, path: rel, depth: level });
      if (child.kind === 'folder' && level < depth) await walk(path.join(dir, child.name), rel, level + 1);
    }
  };
  await walk(real, '', 1);
  return { entries, complete: entries.length < most && !timedOut, timedOut };
}

async function directoryTree(server, args) {
  const arrived = Date.now();
  const folder = await folderOf(server, args.path);
  const depth = args.depth ?? DEFAULT_DEPTH;
  return inReadLane(server, arrived, async (deadline) => {
    const walked = await treeEntries(folder.real, depth, MAX_COUNTED, deadline);
    const entries = walked.entries.map(({ name, depth: level, ...rest }) =>
      ({ ...rest, line: entryLine({ name, ...rest }, '  '.repeat(level - 1)) }));
    const { shown, omitted } = cappedEntries(entries, args.limit ?? DEFAULT_ENTRIES);
    const lines = [...shown.map((e) => e.line), closingLine(shown.length, omitted, !walked.complete)];
    if (walked.timedOut) {
      lines.push(`The walk stopped at the time limit of ${server.timeoutMs} ms; ` +
        'list a folder below this one, or a smaller depth.');
    }
    const plain = shown.map(({ line, ...entry }) => entry);
    return textResult(lines.join('\n'), { path: folder.shown, depth, entries: plain, omitted,
      complete: walked.complete && omitted === 0 });
  });
}

module.exports = {
  DEFAULT_DEPTH, DEFAULT_ENTRIES, MAX_DEPTH, MAX_ENTRIES, byName, directoryTree, inBatches, inReadLane,
  listDirectory,
};
