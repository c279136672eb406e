// Types of the quenmar-grep Node.js binding.

/** One match: the file, the 1-based line and byte column, the line's text and its context window. */
export interface Match {
  file: string;
  line: number;
  col: number;
  text: string;
  context: string[];
  /** Bytes of the match, when the search asked for `match_length`. */
  length?: number;
  /** Every match of the line, when the search asked for `submatches`. */
  submatches?: Array<{ col: number; length: number }>;
}

/** The search document. */
export interface SearchDocument {
  matches: Match[];
  total_matches: number;
  files_searched: number;
  duration_ms: number;
  /** True when the search stopped at its time limit. */
  timed_out?: boolean;
  /** True when the search stopped at its `max_output_bytes`. */
  output_limited?: boolean;
}

/** The options document: each key as the library reads it. */
export interface SearchOptions {
  regex?: boolean;
  case_sensitive?: boolean;
  case_insensitive?: boolean;
  ignore_case?: boolean;
  whole_word?: boolean;
  max_results?: number;
  context_lines?: number;
  include_globs?: string | string[];
  exclude_globs?: string | string[];
  exclude_dirs?: string | string[];
  threads?: number;
  timeout_ms?: number;
  max_per_file?: number;
  /** The most bytes of the result (the document, or the streamed match texts together). */
  max_output_bytes?: number;
  hidden?: boolean;
  skip_dirs?: boolean;
  follow_links?: boolean;
  gitignore?: boolean;
  match_length?: boolean;
  submatches?: boolean;
  /** "standard": the pattern is a regular expression in the standard syntax (docs/regex.md). */
  syntax?: 'dialect' | 'standard';
}

/** How a library call ended; a failure's Error carries the name as `code`. */
export declare const Status: {
  readonly GREP_OK: 0;
  readonly GREP_STOPPED: 1;
  readonly GREP_TIMED_OUT: 2;
  readonly GREP_OUTPUT_LIMITED: 3;
  readonly GREP_E_ARGUMENT: -1;
  readonly GREP_E_NOT_FOUND: -2;
  readonly GREP_E_IO: -3;
  readonly GREP_E_CONFLICT: -4;
  readonly GREP_E_NO_MEMORY: -5;
};

/** The Error a failed call rejects with. */
export interface QuenmarGrepError extends Error {
  /** The status's name, e.g. "GREP_E_NOT_FOUND". */
  code: keyof typeof Status;
  /** The status's number. */
  status: number;
  /** For a stream that timed out: the matches it delivered. */
  count?: number;
}

/**
 * One edit of a batch: a line edit (start_line, end_line, new_text, and
 * optionally expected_text: what the lines hold now, joined with "\n") or a
 * text edit (old_text, new_text, optionally replace_all).
 */
export interface Edit {
  file: string;
  start_line?: number;
  end_line?: number;
  new_text?: string;
  expected_text?: string;
  old_text?: string;
  replace_all?: boolean;
}

/**
 * What a dry run would change in one file, as a unified diff. A diff of
 * lines that are not UTF-8 also comes as its own bytes in `diff_base64`
 * (`diff` shows them as U+FFFD): apply those.
 */
export interface FileDiff {
  file: string;
  diff: string;
  diff_base64?: string;
}

/** Batch instructions as a document. */
export interface BatchInstructions {
  edits: Edit[];
  dry_run?: boolean;
  diffs?: boolean;
  /** Keep every line end that no edit names (the bindings send true unless told). */
  exact?: boolean;
}

/** The batch result document; `diffs` is present for a dry run. */
export interface BatchResult {
  success: boolean;
  files_modified: number;
  total_edits: number;
  errors: string[];
  diffs?: FileDiff[];
}

/** The library's version text, e.g. "1.0.0". */
export function version(): string;

/**
 * Searches the file or tree at `root`. Rejects with a QuenmarGrepError (code
 * "GREP_E_NOT_FOUND" when nothing is there) when the search fails, and with
 * code "GREP_E_NO_MEMORY" when the document is too large for a JavaScript
 * string (set `max_output_bytes`); a search stopped by `timeout_ms` resolves
 * to what it found, with `timed_out`, and one stopped by `max_output_bytes`
 * with `output_limited`.
 * `options` may also be a JSON text.
 */
export function search(root: string, pattern: string, options?: SearchOptions | string): Promise<SearchDocument>;

/**
 * Searches `text` (a string, or a Buffer or Uint8Array in any encoding a file
 * may have) as one file called `name`, to which the glob options apply.
 */
export function searchText(name: string, text: string | Uint8Array, pattern: string, options?: SearchOptions | string): Promise<SearchDocument>;

/**
 * Yields each match while the search runs; leaving the loop early stops the
 * search. A search stopped by `timeout_ms` throws a QuenmarGrepError (code
 * "GREP_TIMED_OUT", with `count`) after its last match, and one stopped by
 * `max_output_bytes` likewise (code "GREP_OUTPUT_LIMITED"); a match too large
 * for a JavaScript string ends it with code "GREP_E_NO_MEMORY".
 */
export function searchStream(root: string, pattern: string, options?: SearchOptions | string): MatchStream;

/** The matches of a streamed search, as they are found. */
export interface MatchStream extends AsyncIterableIterator<Match> {
  /** Once the search has ended: the matches it found, up to the one it stopped at. */
  count: number | undefined;
}

/** Lines `start`..`end` as "N: text\n" rows; `start` below 1 reads the whole file, `end` below 1 to its end. */
export function readLines(file: string, start?: number, end?: number): Promise<string>;

/** The same selection as [number, text] pairs. */
export function numberedLines(file: string, start?: number, end?: number): Promise<Array<[number, string]>>;

/**
 * Replaces lines `start`..`end` with the lines of `text`; `start` > `end`
 * inserts before `start`. With `expected`, the lines must hold that text now
 * (joined with "\n"), else it rejects with code "GREP_E_CONFLICT" and the
 * file stays as it is. With `exact` (the default) every line the edit does
 * not name keeps its bytes and line end, and a start past the line after the
 * last rejects; `exact: false` writes every line with the file's most common
 * ending.
 */
export function replaceLines(file: string, start: number, end: number, text: string,
                             options?: { expected?: string; exact?: boolean }): Promise<void>;

/**
 * Replaces `oldText` by `newText` in the file (every line ending reads as
 * "\n"); `oldText` must occur exactly once unless `replaceAll`. With
 * `dryRun` nothing is written and it resolves to the unified diff.
 */
export function editText(file: string, oldText: string, newText: string,
                         options?: { replaceAll?: boolean; dryRun?: boolean; exact?: boolean }): Promise<string | undefined>;

/**
 * Applies many edits; files stand or fall one by one (check `success`). With
 * `dryRun` nothing is written and `diffs` holds each file's diff. With
 * `exact` (the default) "exact": true is sent unless the instructions say.
 */
export function batchReplace(edits: Edit[] | BatchInstructions | string,
                             options?: { dryRun?: boolean; exact?: boolean }): Promise<BatchResult>;
