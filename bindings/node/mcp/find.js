'use strict';
// The find_files tool: the files below the roots (or a folder inside them)
// whose paths match globs in git's syntax, listed by the library's walk, so
// that the same ignore files, folders passed over and links not followed
// choose the files a search would read. The server sorts the whole listing
// (the library's "modified" order holds within each folder only): newest
// first by modification time, ties by path, or by path alone; so pages of
// one listing, each called with the offset the one before gave, follow on
// from each other while the files stand as they are.

const fs = require('node:fs');
const qg = require('..');
const { argumentPath, reachesInside } = require('./confine');
const { byName, inBatches, inReadLane } = require('./folders');
const { Budget, MAX_REPLY_TEXT, counted, cutLine, textResult } = require('./output');
const { checkIgnoreFiles, searchTargets } = require('./search');

const DEFAULT_FILES = 1000;
const MAX_FILES = 10000;
const SORTS = ['modified', 'path'];
/** Bytes of the library's listing of one folder: its paths as a JSON document. */
const LISTING_BYTES = 64 * 1024 * 1024;
/** Bytes a listing near its cap may still be short of it: the longest path and the closing members. */
const LISTING_SLACK = 8192;

/** The options of the library's listing for the call's arguments, stopping by `deadline`. */
function listingOptions(args, deadline) {
  checkIgnoreFiles(args);
  const options = {
    gitignore: args.gitignore !== false,
    dot_ignore: args.dot_ignore !== false,
    follow_links: args.follow_links === true,
    sort: 'path',
    max_output_bytes: LISTING_BYTES,
    timeout_ms: Math.max(1, deadline - Date.now()),
  };
  if (args.glob !== undefined) options.path_globs = args.glob;
  return options;
}

/**
 * The files of every target, each listed once (a file reached by two
 * targets, or two links, by its first path), with what they reach inside
 * the roots; returns { files, cut } with `cut` the ways the listing may be
 * short ('timed_out', 'output_limited').
 */
async function listedFiles(server, targets, args, deadline) {
  const files = new Set();
  const cut = new Set();
  for (const target of targets) {
    if (Date.now() >= deadline) {
      cut.add('timed_out');
      break;
    }
    const listed = await qg.listFiles(target.real, listingOptions(args, deadline));
    // The binding gives the paths alone: a listing near its byte cap, or
    // one that took the whole time left, is taken as cut there.
    if (Buffer.byteLength(JSON.stringify(listed)) > LISTING_BYTES - LISTING_SLACK) cut.add('output_limited');
    if (Date.now() >= deadline) cut.add('timed_out');
    for (const file of listed) {
      if (args.follow_links !== true || reachesInside(server.roots, file)) files.add(file);
    }
  }
  return { files: [...files], cut };
}

/** Orders files { path, modified } newest first, those of one time by path. */
function newestFirst(a, b) {
  if (a.modified !== b.modified) return a.modified > b.modified ? -1 : 1;
  return byName(a.path, b.path);
}

/**
 * The files with their modification times in nanoseconds, `{ path,
 * modified }`; a file gone before its time is read is left out.
 */
async function withTimes(files) {
  return inBatches(files, async (file) => {
    try {
      return { path: file, modified: (await fs.promises.stat(file, { bigint: true })).mtimeNs };
    } catch {
      return null;
    }
  });
}

/** The files sorted as `sort` says, as the paths the tools take back. */
async function sortedPaths(server, files, sort) {
  if (sort === 'path') return files.map((file) => argumentPath(server.roots, file)).sort(byName);
  const timed = (await withTimes(files)).map((f) => ({ ...f, path: argumentPath(server.roots, f.path) }));
  return timed.sort(newestFirst).map((f) => f.path);
}

/** The paths of the page from `offset`, at most `limit`, while the reply's budgets allow. */
function pagePaths(paths, offset, limit) {
  const text = new Budget(MAX_REPLY_TEXT - 4096);  // room for the closing lines
  const structured = new Budget(MAX_REPLY_TEXT);
  const shown = [];
  for (const shownPath of paths.slice(offset)) {
    if (shown.length === limit || !text.add(cutLine(shownPath)) || !structured.add(shownPath)) break;
    shown.push(shownPath);
  }
  return shown;
}

/** The lines that close a page: what it shows, the next page's offset, and why it may be short. */
function closingLines(shown, total, next, cut, timeoutMs) {
  const lines = [];
  if (next !== undefined) {
    lines.push(`${counted(shown, 'file', 'files')} shown of ${total}; more exist. Narrow the ` +
      `listing with a path or glob, or raise limit (at most ${MAX_FILES}).`);
    lines.push(`Next page: call find_files again with the same arguments and offset=${next}.`);
  } else {
    lines.push(shown === total ? counted(total, 'file', 'files')
      : `${counted(shown, 'file', 'files')} shown, the last of ${total}`);
  }
  if (cut.has('output_limited')) {
    lines.push(`The listing stopped at its limit of ${LISTING_BYTES} bytes of paths; more files ` +
      'may exist. List a folder below this one, or narrow the glob.');
  }
  if (cut.has('timed_out')) {
    lines.push(`The listing stopped at the time limit of ${timeoutMs} ms; more files may exist. ` +
      'Narrow it with a path or glob.');
  }
  return lines;
}

async function findFiles(server, args) {
  const arrived = Date.now();
  checkIgnoreFiles(args);  // refuses what the listing would not take before the call waits
  const targets = searchTargets(server.roots, args.path);
  return inReadLane(server, arrived, async (deadline) => {
    const { files, cut } = await listedFiles(server, targets, args, deadline);
    const paths = await sortedPaths(server, files, args.sort ?? 'modified');
    const offset = args.offset ?? 0;
    const shown = pagePaths(paths, offset, args.limit ?? DEFAULT_FILES);
    const end = offset + shown.length;
    const next = end < paths.length ? end : undefined;
    const lines = [...shown.map(cutLine), ...closingLines(shown.length, paths.length, next, cut,
      server.timeoutMs)];
    const structured = { paths: shown, total: paths.length, more: next !== undefined,
      timed_out: cut.has('timed_out') };
    if (next !== undefined) structured.next_offset = next;
    return textResult(lines.join('\n'), structured);
  });
}

module.exports = { DEFAULT_FILES, MAX_FILES, SORTS, findFiles };
