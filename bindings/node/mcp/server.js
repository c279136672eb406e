'use strict';
// The tool server for coding assistants: five tools over the library (search,
// read_lines, replace_lines, edit, batch_edit), confined to the roots it was
// started with. Every tool answers in text written for an assistant to read;
// a failure is a result with isError and the library's message, never a
// crash. Searches stop at the call's time limit; reads race it; edits run to
// their end (a write abandoned half-way would leave the assistant unsure of
// what happened), bounded by the library's 256 MiB file limit.

const path = require('node:path');
const { McpServer } = require('@modelcontextprotocol/sdk/server/mcp.js');
const { z } = require('zod');
const qg = require('..');
const { confine } = require('./confine');

const DEFAULT_RESULTS = 100;
const MAX_RESULTS = 2000;
const MAX_CONTEXT = 10;
const MAX_READ_LINES = 2000;
const MAX_READ_BYTES = 256 * 1024;
const MAX_SHOWN_LINE = 2000;  // characters of one matched or context line in a search result
const MAX_TEXT = 512 * 1024;  // characters of one result's text

function textResult(text, structuredContent) {
  const result = { content: [{ type: 'text', text }] };
  if (structuredContent !== undefined) result.structuredContent = structuredContent;
  return result;
}

function errorResult(message) {
  return { content: [{ type: 'text', text: message }], isError: true };
}

/** Runs a tool's work, turning any failure into an error result. */
async function answer(work) {
  try {
    return await work();
  } catch (error) {
    return errorResult(error instanceof Error ? error.message : String(error));
  }
}

/** `text` cut to `max` characters, saying so. */
function capped(text, max) {
  return text.length <= max ? text : `${text.slice(0, max)}… (${text.length - max} more characters)`;
}

/** Rejects after `ms` with a message naming the limit, unless `promise` settles first. */
function withinLimit(promise, ms) {
  let timer;
  const limit = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`Stopped at the time limit of ${ms} ms`)), ms);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// ---- search ----

/** The options document of one search. */
function searchOptions(args, maxResults, timeoutMs) {
  const options = {
    ignore_case: Boolean(args.ignore_case),
    whole_word: Boolean(args.whole_word),
    max_results: maxResults,
    context_lines: args.context ?? 0,
    timeout_ms: Math.max(1, timeoutMs),
    follow_links: false,
  };
  if (args.regex) options.syntax = 'standard';
  if (args.include !== undefined) options.include_globs = args.include;
  if (args.exclude !== undefined) options.exclude_globs = args.exclude;
  return options;
}

/**
 * The lines of a search result: each match as PATH:LINE:COL:TEXT, its
 * context lines as PATH-LINE-TEXT, each line once (a line that matches is
 * shown as a match even inside another's context), `--` between groups of a
 * file that do not touch and between files when context is shown.
 */
function matchLines(matches, context) {
  const files = new Map();  // path -> Map(line -> row), in the order first seen
  for (const m of matches) {
    if (!files.has(m.path)) files.set(m.path, new Map());
    const rows = files.get(m.path);
    rows.set(m.line, { match: true, col: m.col, text: m.text });
    if (context > 0 && Array.isArray(m.context)) {
      const first = Math.max(1, m.line - context);
      m.context.forEach((text, i) => {
        if (!rows.has(first + i)) rows.set(first + i, { match: false, text });
      });
    }
  }
  const out = [];
  for (const [file, rows] of files) {
    let last = -1;
    for (const n of [...rows.keys()].sort((a, b) => a - b)) {
      if (context > 0 && out.length > 0 && n !== last + 1) out.push('--');
      const row = rows.get(n);
      const shown = capped(row.text, MAX_SHOWN_LINE);
      out.push(row.match ? `${file}:${n}:${row.col}:${shown}` : `${file}-${n}-${shown}`);
      last = n;
    }
  }
  return out;
}

async function search(server, args) {
  const max = args.max_results ?? DEFAULT_RESULTS;
  const targets = args.path === undefined
    ? server.roots.map((root) => ({ real: root, root }))
    : [confine(server.roots, args.path)];
  const deadline = Date.now() + server.timeoutMs;
  const found = [];
  let timedOut = false;
  for (const target of targets) {
    const left = max + 1 - found.length;  // one more than shown tells that more exist
    if (left <= 0) break;
    const remaining = deadline - Date.now();
    if (remaining <= 0) {
      timedOut = true;
      break;
    }
    const doc = await qg.search(target.real, args.pattern, searchOptions(args, left, remaining));
    timedOut = timedOut || doc.timed_out === true;
    for (const m of doc.matches) {
      found.push({ path: path.relative(target.root, m.file) || path.basename(m.file), line: m.line,
        col: m.col, text: m.text, context: m.context });
    }
  }
  const more = found.length > max;
  if (more) found.length = max;
  const files = new Set(found.map((m) => m.path)).size;
  const lines = matchLines(found, args.context ?? 0);
  const count = `${found.length} match${found.length === 1 ? '' : 'es'} in ${files} file${files === 1 ? '' : 's'}`;
  if (more) {
    lines.push(`${count} shown; more exist. Narrow the search (a path, include or exclude globs, ` +
      `a more specific pattern) or raise max_results (at most ${MAX_RESULTS}).`);
  } else {
    lines.push(count);
  }
  if (timedOut) {
    lines.push(`The search stopped at the time limit of ${server.timeoutMs} ms; ` +
      'more matches may exist. Narrow it with a path or globs.');
  }
  const structured = {
    matches: found.map(({ path: p, line, col, text }) => ({ path: p, line, col, text })),
    files,
    more,
    timed_out: timedOut,
  };
  return textResult(capped(lines.join('\n'), MAX_TEXT), structured);
}

// ---- read_lines ----

async function readLines(server, args) {
  const target = confine(server.roots, args.path);
  const start = args.start_line ?? 1;
  // One line more than may be shown tells whether the file goes on.
  const lastAllowed = start + MAX_READ_LINES - 1;
  const wanted = args.end_line === undefined || args.end_line < 1 ? Infinity : args.end_line;
  const end = Math.min(wanted, lastAllowed + 1);
  const text = await withinLimit(qg.readLines(target.real, start, Number.isFinite(end) ? end : 0),
    server.timeoutMs);
  const rows = text === '' ? [] : text.slice(0, -1).split('\n');
  let shown = rows;
  if (shown.length > MAX_READ_LINES) shown = shown.slice(0, MAX_READ_LINES);
  let bytes = 0;
  let fit = 0;
  for (; fit < shown.length; ++fit) {
    bytes += Buffer.byteLength(shown[fit]) + 1;
    if (bytes > MAX_READ_BYTES && fit > 0) break;
  }
  const cut = fit < rows.length && start + fit <= wanted;
  let out = shown.slice(0, fit).join('\n');
  if (cut) {
    const next = start + fit;
    out += `\n(Lines ${start}-${next - 1} of ${target.shown} shown; the file goes on: ` +
      `call read_lines with start_line=${next} to read more.)`;
  }
  return textResult(out);
}

// ---- edits ----

/** The diff with the resolved path in its header lines replaced by `shown`. */
function shownDiff(diff, real, shown) {
  const lines = diff.split('\n');
  for (let i = 0; i < 2 && i < lines.length; ++i) {
    if (lines[i] === `--- ${real}`) lines[i] = `--- ${shown}`;
    if (lines[i] === `+++ ${real}`) lines[i] = `+++ ${shown}`;
  }
  return lines.join('\n');
}

/** Every resolved path in `message` written as the assistant named it. */
function shownMessage(message, targets) {
  let out = message;
  for (const t of targets) out = out.split(t.real).join(t.shown);
  return out;
}

/** Runs a batch of edits of confined files, with their diffs. */
async function runEdits(edits, targets, dryRun) {
  const instructions = { edits, diffs: true };
  if (dryRun) instructions.dry_run = true;
  const result = await qg.batchReplace(instructions);
  const byReal = new Map(targets.map((t) => [t.real, t]));
  const diffs = (result.diffs ?? []).map((d) => {
    const t = byReal.get(d.file) ?? { real: d.file, shown: d.file };
    return { path: t.shown, diff: shownDiff(d.diff, t.real, t.shown) };
  });
  const errors = result.errors.map((e) => shownMessage(e, targets));
  return { ok: result.success, diffs, errors };
}

/** The text of one file's edit: its diff, or what went wrong. */
function oneFileAnswer(outcome, target, dryRun) {
  if (!outcome.ok) {
    const message = outcome.errors[0] ?? 'The edit failed';
    // "path: message": the message names the path already.
    const at = message.indexOf(': ');
    return errorResult(at >= 0 ? message.slice(at + 2) : message);
  }
  const diff = outcome.diffs[0]?.diff ?? '';
  const head = dryRun ? `Dry run: nothing was written. The edit would change ${target.shown}:`
    : `Edited ${target.shown}:`;
  return textResult(diff === '' ? `No change to ${target.shown}.` : `${head}\n${diff}`);
}

async function replaceLines(server, args) {
  const target = confine(server.roots, args.path);
  const edit = { file: target.real, start_line: args.start_line, end_line: args.end_line,
    new_text: args.new_text };
  if (args.expected_text !== undefined) edit.expected_text = args.expected_text;
  return oneFileAnswer(await runEdits([edit], [target], args.dry_run), target, args.dry_run);
}

async function edit(server, args) {
  const target = confine(server.roots, args.path);
  const change = { file: target.real, old_text: args.old_text, new_text: args.new_text,
    replace_all: Boolean(args.replace_all) };
  return oneFileAnswer(await runEdits([change], [target], args.dry_run), target, args.dry_run);
}

async function batchEdit(server, args) {
  // Every path is checked before anything is read or written.
  const targets = args.edits.map((e) => confine(server.roots, e.path));
  const edits = args.edits.map(({ path: _, ...members }, i) => ({ file: targets[i].real, ...members }));
  const outcome = await runEdits(edits, targets, args.dry_run);
  const parts = outcome.diffs.map((d) => (d.diff === '' ? `No change to ${d.path}.` : d.diff));
  for (const e of outcome.errors) parts.push(`Failed: ${e}`);
  const verb = args.dry_run ? 'would change' : 'changed';
  parts.push(`${outcome.diffs.length} file${outcome.diffs.length === 1 ? '' : 's'} ${verb}, ` +
    `${outcome.errors.length} failed${args.dry_run ? ' (dry run: nothing was written)' : ''}.`);
  const result = textResult(capped(parts.join('\n'), MAX_TEXT));
  if (!outcome.ok) result.isError = true;
  return result;
}

// ---- the server ----

const lineNumber = z.number().int().min(1).max(2147483647);

/** A server for `roots` (resolved folders) whose calls stop at `timeoutMs`. */
function createServer(roots, timeoutMs) {
  const mcp = new McpServer({ name: 'quenmar-grep', version: qg.version() });
  const self = { roots, timeoutMs };
  const where = roots.length === 1 ? `the folder ${roots[0]}` : `the folders ${roots.join(', ')}`;
  const pathArg = z.string().min(1).describe(
    `A file, relative to ${roots[0]} or absolute; it must lie inside ${where}`);

  mcp.registerTool('search', {
    title: 'Search file contents',
    description: `Searches the contents of the files under ${where} for a text or a regular ` +
      'expression and lists each matching line as PATH:LINE:COL:TEXT (paths relative to their ' +
      'root, columns in bytes from 1), then how many matches in how many files. Ignored folders ' +
      '(node_modules, build, target, dot-folders) and binary files are passed over.',
    inputSchema: {
      pattern: z.string().min(1).describe('The text to find, or a regular expression with regex'),
      path: z.string().min(1).optional().describe('A file or folder to search in (default: every root)'),
      regex: z.boolean().optional().describe('The pattern is a regular expression in the syntax of ' +
        'Python, PCRE and ripgrep: groups, |, {n,m}, \\b, [[:digit:]], (?i)'),
      ignore_case: z.boolean().optional().describe('Match letters of either ASCII case'),
      whole_word: z.boolean().optional().describe('Only matches that stand as whole words'),
      include: z.union([z.string(), z.array(z.string())]).optional()
        .describe('File name globs to search only, e.g. "*.c;*.h" or ["*.ts"]'),
      exclude: z.union([z.string(), z.array(z.string())]).optional()
        .describe('File name globs to pass over'),
      context: z.number().int().min(0).max(MAX_CONTEXT).optional()
        .describe('Lines to show before and after each match (0 to 10)'),
      max_results: z.number().int().min(1).max(MAX_RESULTS).optional()
        .describe(`Most matches to list (default ${DEFAULT_RESULTS}, at most ${MAX_RESULTS})`),
    },
    outputSchema: {
      matches: z.array(z.object({ path: z.string(), line: z.number(), col: z.number(), text: z.string() })),
      files: z.number(),
      more: z.boolean(),
      timed_out: z.boolean(),
    },
    annotations: { readOnlyHint: true },
  }, (args) => answer(() => search(self, args)));

  mcp.registerTool('read_lines', {
    title: 'Read numbered lines',
    description: 'Reads lines of a text file as "N: text" rows (the numbers that search reports ' +
      `and the edit tools take), at most ${MAX_READ_LINES} lines or 256 KB per call; a closing ` +
      'line says where to read on when the file goes on. UTF-16 files read as UTF-8.',
    inputSchema: {
      path: pathArg,
      start_line: lineNumber.optional().describe('The first line to read (default 1)'),
      end_line: lineNumber.optional().describe('The last line to read (default: as far as allowed)'),
    },
    annotations: { readOnlyHint: true },
  }, (args) => answer(() => readLines(self, args)));

  mcp.registerTool('replace_lines', {
    title: 'Replace lines',
    description: 'Replaces lines start_line..end_line of a file with new_text (start_line greater ' +
      'than end_line inserts before start_line; an empty new_text deletes) and returns the change ' +
      'as a unified diff. The file keeps its encoding and line endings and is replaced atomically. ' +
      'Give expected_text (the lines as they are now, joined with \\n) to refuse the edit if they ' +
      'changed since you read them.',
    inputSchema: {
      path: pathArg,
      start_line: lineNumber.describe('The first line to replace'),
      end_line: z.number().int().min(0).max(2147483647).describe('The last line to replace'),
      new_text: z.string().describe('The new lines (without a final newline, or with one)'),
      expected_text: z.string().optional().describe('What lines start_line..end_line hold now'),
      dry_run: z.boolean().optional().describe('Only show the diff; write nothing'),
    },
  }, (args) => answer(() => replaceLines(self, args)));

  mcp.registerTool('edit', {
    title: 'Edit by text',
    description: 'Replaces old_text by new_text in a file and returns the change as a unified ' +
      'diff. old_text must occur exactly once (add surrounding lines to make it unique) unless ' +
      'replace_all; line endings in old_text and new_text are \\n whatever the file uses. The ' +
      'file keeps its encoding and line endings and is replaced atomically.',
    inputSchema: {
      path: pathArg,
      old_text: z.string().min(1).describe('The text to replace, as it stands in the file'),
      new_text: z.string().describe('The text to put in its place'),
      replace_all: z.boolean().optional().describe('Replace every occurrence'),
      dry_run: z.boolean().optional().describe('Only show the diff; write nothing'),
    },
  }, (args) => answer(() => edit(self, args)));

  mcp.registerTool('batch_edit', {
    title: 'Edit several places',
    description: 'Applies many edits, over one file or many, each a line edit (start_line, ' +
      'end_line, new_text, optionally expected_text) or a text edit (old_text, new_text, ' +
      'optionally replace_all). The edits of one file are checked together (no overlaps) and ' +
      'the file is written once; files stand or fall one by one. Returns each file\'s diff and ' +
      'each failed file\'s message.',
    inputSchema: {
      edits: z.array(z.object({
        path: pathArg,
        start_line: lineNumber.optional(),
        end_line: z.number().int().min(0).max(2147483647).optional(),
        new_text: z.string().optional(),
        expected_text: z.string().optional(),
        old_text: z.string().min(1).optional(),
        replace_all: z.boolean().optional(),
      })).min(1).max(10000).describe('The edits'),
      dry_run: z.boolean().optional().describe('Only show the diffs; write nothing'),
    },
  }, (args) => answer(() => batchEdit(self, args)));

  return mcp;
}

module.exports = { createServer, matchLines };
