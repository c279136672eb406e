'use strict';
// The tool server for coding assistants: nine tools over the library and the
// file system (search, read_lines, list_directory, directory_tree,
// find_files, replace_lines, edit, batch_edit, replace_pattern), confined to
// the roots it was started with. Every tool answers in text written for an
// assistant to read, within the reply's limits; a failure is a result with
// isError and the library's message, never a crash. A tool's arguments are checked strictly:
// a key the tool does not know is refused by name, never dropped (a misspelt
// "start_line" would otherwise become an edit of line 1).
//
// Calls run in three lanes (searches, reads, edits), each with a stated
// number of calls at once and a stated number waiting, so no kind waits
// behind another; stop() ends the server's work for a shutdown: no call is
// taken any more, searches stop in the library, and a running edit finishes
// the file in hand.

const { McpServer } = require('@modelcontextprotocol/sdk/server/mcp.js');
const { z } = require('zod');
const qg = require('..');
const { batchEdit, edit, replaceLines } = require('./edits');
const {
  DEFAULT_DEPTH, DEFAULT_ENTRIES, MAX_DEPTH, MAX_ENTRIES, directoryTree, listDirectory,
} = require('./folders');
const { DEFAULT_FILES, MAX_FILES, SORTS, findFiles } = require('./find');
const { Lane } = require('./lanes');
const { errorResult } = require('./output');
const { MAX_READ_LINES, readLines } = require('./read');
const { replacePattern } = require('./replace');
const {
  DEFAULT_HEAD, DEFAULT_RESULTS, MAX_CONTEXT, MAX_HEAD, MAX_OFFSET, MAX_RESULTS, OUTPUT_MODES, search,
} = require('./search');
const { versionArg } = require('./versions');

/** Calls of each kind that run at once, and that may wait: together below the pool's threads. */
const LANES = { searches: [4, 64], reads: [2, 64], edits: [1, 16] };
/** The library's pool threads: every lane's running calls, and one for Node's own file work. */
const POOL_THREADS = Object.values(LANES).reduce((sum, [running]) => sum + running, 0) + 1;
/** How long a stop waits for searches and reads to return (edits are waited for whole). */
const STOP_GRACE_MS = 1000;

/** Runs a tool's work, turning any failure into an error result. */
async function answer(work) {
  try {
    return await work();
  } catch (error) {
    return errorResult(error instanceof Error ? error.message : String(error));
  }
}

const lineNumber = z.number().int().min(1).max(2147483647);
const endLine = z.number().int().min(0).max(2147483647);

/** The input schema of a tool: exactly these keys, any other refused by name. */
function strict(shape) {
  return z.object(shape).strict();
}

/**
 * A server for `roots` (resolved folders) whose calls stop at `timeoutMs`,
 * logging with `log(text)`. Returns { mcp, stop }: the protocol server, and
 * stop(), which resolves once the server's work has ended for a shutdown.
 */
function createServer(roots, timeoutMs, log = () => {}) {
  const mcp = new McpServer({ name: 'quenmar-grep', version: qg.version() });
  const self = {
    roots, timeoutMs, log, stopping: false, stops: new Set(),
    lanes: Object.fromEntries(Object.entries(LANES).map(([name, [running, waiting]]) =>
      [name, new Lane(name, running, waiting)])),
  };
  const where = roots.length === 1 ? `the folder ${roots[0]}` : `the folders ${roots.join(', ')}`;
  const pathArg = z.string().min(1).describe(
    `A file, relative to ${roots[0]} or absolute; it must lie inside ${where}`);
  // The arguments that choose which ignore files a walk honours, and whether
  // it follows links, shared by the tools that walk the roots.
  const ignoreArgs = {
    gitignore: z.boolean().optional().describe('Honour .gitignore, .git/info/exclude and .ignore ' +
      'files (default true)'),
    dot_ignore: z.boolean().optional().describe('Honour .ignore files (default true; false only ' +
      'with gitignore false)'),
  };
  const followLinksArg = z.boolean().optional().describe('Follow links met in the walk (default ' +
    'false); what they reach outside the roots is never shown');
  // The arguments that choose what a search matches, shared by the tools
  // that search (matchOptions in search.js reads them).
  const matchArgs = {
    pattern: z.string().min(1).describe('The text to find, or a regular expression with regex'),
    path: z.string().min(1).optional().describe('A file or folder to search in (default: every root)'),
    regex: z.boolean().optional().describe('The pattern is a regular expression in the syntax of ' +
      'Python, PCRE and ripgrep: groups, |, {n,m}, \\b, [[:digit:]], (?i)'),
    ignore_case: z.boolean().optional().describe('Match letters of either ASCII case'),
    whole_word: z.boolean().optional().describe('Only matches that stand as whole words'),
    include: z.union([z.string(), z.array(z.string())]).optional()
      .describe('File name globs to search only, e.g. "*.c;*.h" or ["*.ts"] (names hold no /: ' +
        'give globs over paths as glob)'),
    exclude: z.union([z.string(), z.array(z.string())]).optional()
      .describe('File name globs to pass over'),
    glob: z.union([z.string(), z.array(z.string())]).optional()
      .describe('Globs in git\'s syntax over each file\'s path below its root, e.g. "src/**/*.ts" ' +
        'or ["**/*.c", "!tests/**"] (! excludes); a file a glob names is searched even if ignored'),
    ...ignoreArgs,
  };
  const expectedVersion = versionArg.optional().describe('The version read_lines reported for ' +
    'the file (the SHA-256 of its bytes): the edit is refused, nothing written, if the file no ' +
    'longer has it');
  // What each kind of tool does to the files, for the client's prompts:
  // reads change nothing; an edit may overwrite what a file held, and the
  // same call again edits again (or fails), so none is idempotent.
  const reads = { readOnlyHint: true, openWorldHint: false };
  // The listing tools read nothing but names and sizes: the same call again
  // answers the same while the files stand as they are.
  const listings = { readOnlyHint: true, openWorldHint: false, idempotentHint: true };
  const folderArg = z.string().min(1).optional().describe(`A folder, relative to ${roots[0]} or ` +
    `absolute, inside ${where} (default: ${roots[0]})`);
  const entriesArg = z.number().int().min(1).max(MAX_ENTRIES).optional()
    .describe(`Most entries to list (default ${DEFAULT_ENTRIES}, at most ${MAX_ENTRIES})`);
  const entrySchema = { kind: z.enum(['file', 'folder', 'link', 'other']), size: z.number().optional() };
  const writes = { readOnlyHint: false, destructiveHint: true, idempotentHint: false,
    openWorldHint: false };
  const limits = 'Lines longer than 2,000 characters are shown cut (a window around the match), ' +
    'and a reply is at most 512 KB; it says what was left out and how to get it. Unknown ' +
    'arguments are refused.';

  mcp.registerTool('search', {
    title: 'Search file contents',
    description: `Searches the contents of the files under ${where} for a text or a regular ` +
      'expression and lists each matching line as PATH:LINE:COL:TEXT (paths relative to their ' +
      'root, columns in bytes from 1), then how many matches in how many files. Ignored folders ' +
      '(node_modules, build, target, dot-folders), files that .gitignore or .ignore names, and ' +
      'binary files are passed over. output_mode files_with_matches lists the matching files, ' +
      'count each one\'s number of matching lines. Pages: offset skips rows of the listing and ' +
      'head_limit bounds them; a closing line gives the offset of the next page. Files come in ' +
      `the order of their paths. ${limits}`,
    inputSchema: strict({
      ...matchArgs,
      output_mode: z.enum(OUTPUT_MODES).optional().describe('content (the default): the matching ' +
        'lines; files_with_matches: the paths of the files that match; count: PATH:N, the number ' +
        'of matching lines of each file'),
      head_limit: z.number().int().min(1).max(MAX_HEAD).optional().describe('Most rows to list ' +
        '(lines of content, context and -- included; files; counts); default: every one within ' +
        `max_results for content, ${DEFAULT_HEAD} otherwise`),
      offset: z.number().int().min(0).max(MAX_OFFSET).optional().describe('Rows of the listing ' +
        'to skip, for the next page (default 0)'),
      follow_links: followLinksArg,
      context: z.number().int().min(0).max(MAX_CONTEXT).optional()
        .describe(`Lines to show before and after each match (0 to ${MAX_CONTEXT})`),
      max_results: z.number().int().min(1).max(MAX_RESULTS).optional()
        .describe(`Most matches to list (default ${DEFAULT_RESULTS}, at most ${MAX_RESULTS})`),
    }),
    outputSchema: {
      matches: z.array(z.object({ path: z.string(), line: z.number(), col: z.number(), text: z.string() })),
      files: z.number(),
      paths: z.array(z.string()).optional(),
      counts: z.array(z.object({ path: z.string(), count: z.number() })).optional(),
      more: z.boolean(),
      next_offset: z.number().optional(),
      timed_out: z.boolean(),
    },
    annotations: reads,
  }, (args, extra) => answer(() => search(self, args, extra)));

  mcp.registerTool('read_lines', {
    title: 'Read numbered lines',
    description: 'Reads lines of a text file as "N: text" rows (the numbers that search reports ' +
      `and the edit tools take), at most ${MAX_READ_LINES} lines or 256 KB per call; a closing ` +
      `line says where to read on when the file goes on. UTF-16 files read as UTF-8. The last ` +
      'line gives the version of the file the lines were read from (the SHA-256 of its bytes): ' +
      'pass it as expected_version to an edit tool, or in replace_pattern\'s expect, so the edit ' +
      `is refused if the file changed since. ${limits}`,
    inputSchema: strict({
      path: pathArg,
      start_line: lineNumber.optional().describe('The first line to read (default 1)'),
      end_line: lineNumber.optional().describe('The last line to read (default: as far as allowed)'),
    }),
    outputSchema: {
      path: z.string(),
      version: z.string(),
      start_line: z.number(),
      end_line: z.number(),
      more: z.boolean(),
    },
    annotations: reads,
  }, (args) => answer(() => readLines(self, args)));

  mcp.registerTool('list_directory', {
    title: 'List a folder',
    description: 'Lists the entries of one folder, sorted by name: a folder as NAME/, a file as ' +
      'NAME (N bytes), a link as NAME (link) and anything else as NAME (other). Links are shown, ' +
      'never followed. A closing line says how many entries there are, and how many the limit ' +
      `left out. ${limits}`,
    inputSchema: strict({ path: folderArg, limit: entriesArg }),
    outputSchema: {
      path: z.string(),
      entries: z.array(z.object({ name: z.string(), ...entrySchema })),
      omitted: z.number(),
    },
    annotations: listings,
  }, (args) => answer(() => listDirectory(self, args)));

  mcp.registerTool('directory_tree', {
    title: 'Show a folder tree',
    description: 'Shows the folders and files below a folder down to depth levels (default ' +
      `${DEFAULT_DEPTH}), two spaces of indent a level, each folder's entries right below it, ` +
      'sorted by name at each level: NAME/ for a folder, NAME (N bytes) for a file, NAME (link) ' +
      'for a link, which is never entered. The limit bounds the entries of the whole tree; a ' +
      `closing line says how many it left out. ${limits}`,
    inputSchema: strict({
      path: folderArg,
      depth: z.number().int().min(1).max(MAX_DEPTH).optional()
        .describe(`Levels to show (default ${DEFAULT_DEPTH}, at most ${MAX_DEPTH}); 1 is the folder's own entries`),
      limit: entriesArg,
    }),
    outputSchema: {
      path: z.string(),
      depth: z.number(),
      entries: z.array(z.object({ path: z.string(), ...entrySchema })),
      omitted: z.number(),
      complete: z.boolean(),
    },
    annotations: listings,
  }, (args) => answer(() => directoryTree(self, args)));

  mcp.registerTool('find_files', {
    title: 'Find files by path',
    description: `Lists the files under ${where} whose paths match globs in git's syntax ` +
      '("**/*.ts", "src/{a,b}/*.c", "!tests/**" to exclude), passing over what search passes ' +
      'over: ignored folders (node_modules, build, target, dot-folders) and files that ' +
      '.gitignore or .ignore names. Newest first by modification time (the default), or by ' +
      'path. Paths are relative to the first root, absolute for the other roots. Pages: offset ' +
      `skips files of the listing and limit bounds them; a closing line gives the offset of the next page. ${limits}`,
    inputSchema: strict({
      glob: z.union([z.string(), z.array(z.string())]).optional()
        .describe('Globs in git\'s syntax over each file\'s path below the folder listed, e.g. ' +
          '"**/*.c" or ["src/**", "!**/*.test.js"] (! excludes; default: every file); a file a ' +
          'glob names is listed even if an ignore file names it'),
      path: z.string().min(1).optional().describe('A folder to list in (default: every root)'),
      ...ignoreArgs,
      follow_links: followLinksArg,
      sort: z.enum(SORTS).optional().describe('modified (the default): newest first, files of ' +
        'one time by path; path: by path'),
      limit: z.number().int().min(1).max(MAX_FILES).optional()
        .describe(`Most files to list (default ${DEFAULT_FILES}, at most ${MAX_FILES})`),
      offset: z.number().int().min(0).max(MAX_OFFSET).optional().describe('Files of the listing ' +
        'to skip, for the next page (default 0)'),
    }),
    outputSchema: {
      paths: z.array(z.string()),
      total: z.number(),
      more: z.boolean(),
      next_offset: z.number().optional(),
      timed_out: z.boolean(),
    },
    annotations: listings,
  }, (args) => answer(() => findFiles(self, args)));

  mcp.registerTool('replace_lines', {
    title: 'Replace lines',
    description: 'Replaces lines start_line..end_line of a file with new_text (start_line greater ' +
      'than end_line inserts before start_line; an empty new_text deletes) and returns the change ' +
      'as a unified diff. The file keeps its encoding and line endings and is replaced atomically. ' +
      'Give expected_text (the lines as they are now, joined with \\n) to refuse the edit if they ' +
      'changed since you read them, or expected_version to refuse it if any of the file did. A ' +
      `start_line past the line after the last is refused. ${limits}`,
    inputSchema: strict({
      path: pathArg,
      start_line: lineNumber.describe('The first line to replace'),
      end_line: endLine.describe('The last line to replace'),
      new_text: z.string().describe('The new lines (without a final newline, or with one)'),
      expected_text: z.string().optional().describe('What lines start_line..end_line hold now'),
      expected_version: expectedVersion,
      dry_run: z.boolean().optional().describe('Only show the diff; write nothing'),
    }),
    annotations: writes,
  }, (args) => answer(() => replaceLines(self, args)));

  mcp.registerTool('edit', {
    title: 'Edit by text',
    description: 'Replaces old_text by new_text in a file and returns the change as a unified ' +
      'diff. old_text must occur exactly once (add surrounding lines to make it unique) unless ' +
      'replace_all; line endings in old_text and new_text are \\n whatever the file uses. The ' +
      'file keeps its encoding and line endings and is replaced atomically. Give ' +
      `expected_version to refuse the edit if the file changed since it was read. ${limits}`,
    inputSchema: strict({
      path: pathArg,
      old_text: z.string().min(1).describe('The text to replace, as it stands in the file'),
      new_text: z.string().describe('The text to put in its place'),
      replace_all: z.boolean().optional().describe('Replace every occurrence'),
      expected_version: expectedVersion,
      dry_run: z.boolean().optional().describe('Only show the diff; write nothing'),
    }),
    annotations: writes,
  }, (args) => answer(() => edit(self, args)));

  mcp.registerTool('batch_edit', {
    title: 'Edit several places',
    description: 'Applies many edits, over one file or many, each a line edit (start_line, ' +
      'end_line, new_text, optionally expected_text) or a text edit (old_text, new_text, ' +
      'optionally replace_all), each optionally with expected_version (edits of one file must ' +
      'expect the same). The edits of one file are checked together (no overlaps) and ' +
      'the file is written once; files stand or fall one by one. Returns each file\'s diff and ' +
      `each failed file's message. A message is at most 10 MiB: send larger batches in parts. ${limits}`,
    inputSchema: strict({
      edits: z.array(strict({
        path: pathArg,
        start_line: lineNumber.optional(),
        end_line: endLine.optional(),
        new_text: z.string().optional(),
        expected_text: z.string().optional(),
        old_text: z.string().min(1).optional(),
        replace_all: z.boolean().optional(),
        expected_version: expectedVersion,
      })).min(1).max(10000).describe('The edits'),
      dry_run: z.boolean().optional().describe('Only show the diffs; write nothing'),
    }),
    annotations: writes,
  }, (args) => answer(() => batchEdit(self, args)));

  mcp.registerTool('replace_pattern', {
    title: 'Replace a pattern',
    description: 'Replaces every match of pattern, in the lines search lists for the same pattern, ' +
      'path, regex, ignore_case, whole_word, include, exclude, glob, gitignore and dot_ignore, ' +
      'by replacement. By default a ' +
      'preview that writes nothing: it lists each file that would change with its number of ' +
      'replacements, the SHA-256 of its bytes and its unified diff. To write, call again with ' +
      'dry_run: false and expect holding the paths and hashes the preview listed: only those ' +
      'files are written, each only while it is unchanged (one changed since fails alone and is ' +
      'left as it is); dry_run: false without expect replaces in every file found. Every byte ' +
      'outside the matches is kept, each file keeps its encoding and line endings and is ' +
      'replaced atomically, and files stand or fall one by one. Paths are relative to the first ' +
      `root, absolute for the other roots. ${limits}`,
    inputSchema: strict({
      ...matchArgs,
      replacement: z.string().describe('The text to put in place of each match: $0 is the whole ' +
        'match and $$ a dollar; with regex also $1..$99 or ${N}, a group by number, and ${name}, ' +
        'a named group (a group the pattern does not have is refused); without regex every ' +
        'other $ stays as written'),
      preserve_case: z.boolean().optional().describe('A replacement of plain words takes the case ' +
        'shape of each match: foo_bar, FOO_BAR, FooBar, fooBar become new_name, NEW_NAME, ' +
        'NewName, newName for new_name (the pattern must match each shape: regex old_?name ' +
        'with ignore_case)'),
      dry_run: z.boolean().optional().describe('true (the default): only show what would change, ' +
        'with each file\'s hash; false: write'),
      expect: z.record(z.string().min(1), versionArg)
        .optional().describe('The files to replace in, each path mapped to the sha256 a preview ' +
          'listed for it (or the version read_lines reported): only those are read, each only ' +
          'while it still has that hash'),
    }),
    outputSchema: {
      dry_run: z.boolean(),
      files: z.array(z.object({ path: z.string(), replacements: z.number(), sha256: z.string() })),
      failures: z.array(z.object({ path: z.string(), status: z.string(), message: z.string() })),
      files_modified: z.number(),
      total_replacements: z.number(),
      files_searched: z.number(),
      more: z.boolean(),
      timed_out: z.boolean(),
    },
    // The hints hold for every call, so they say what an apply does; the
    // call without dry_run is a preview that writes nothing.
    annotations: writes,
  }, (args) => answer(() => replacePattern(self, args)));

  async function stop() {
    self.stopping = true;
    for (const lane of Object.values(self.lanes)) lane.close();
    for (const stopSearch of [...self.stops]) stopSearch();
    await self.lanes.edits.idle();
    let grace;
    await Promise.race([
      Promise.all([self.lanes.searches.idle(), self.lanes.reads.idle()]),
      new Promise((resolve) => { grace = setTimeout(resolve, STOP_GRACE_MS); }),
    ]);
    clearTimeout(grace);
  }

  return { mcp, stop };
}

module.exports = { LANES, POOL_THREADS, createServer };
