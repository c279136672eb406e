#!/usr/bin/env node
'use strict';
// The tool server's cost over the library's own search: the same query
// timed as a `search` tool call through the server (a child process, over
// stdio, as an assistant calls it) and as the Node addon's search in
// process, with the options the server passes (max_results, no links
// followed). Prints a markdown table of min / median / max in ms. Then the
// server under load: 40 searches sent at once (each a regular expression
// over the whole tree, in a server with a 10 s limit), and a read of two
// lines sent 200 ms later: when the read and each search were answered.
//
//   QUENMAR_GREP_NODE_ADDON=BUILD/bindings/node/quenmar_grep.node \
//     node bench/mcp_bench.js ROOT [RUNS]
const path = require('node:path');
const { createRequire } = require('node:module');

const nodeDir = path.join(__dirname, '..', 'bindings', 'node');
const fromPackage = createRequire(path.join(nodeDir, 'package.json'));
const { Client } = fromPackage('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = fromPackage('@modelcontextprotocol/sdk/client/stdio.js');
const qg = fromPackage('./index.js');

const cases = [
  ['literal, few', { pattern: 'PM_RESUME' }],
  ['literal, many', { pattern: 'return' }],
  ['standard syntax', { pattern: 'pthread_(mutex|cond)_lock', regex: true }],
  ['ignore case, include', { pattern: 'pm_resume', ignore_case: true, include: '*.c;*.h' }],
];

function summary(times) {
  const sorted = [...times].sort((a, b) => a - b);
  const f = (x) => x.toFixed(1);
  return { text: `${f(sorted[0])}/${f(sorted[sorted.length >> 1])}/${f(sorted.at(-1))}`,
    median: sorted[sorted.length >> 1] };
}

async function timed(runs, work) {
  await work();  // warm-up
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const start = process.hrtime.bigint();
    await work();
    times.push(Number(process.hrtime.bigint() - start) / 1e6);
  }
  return summary(times);
}

async function main() {
  const [root, runsText] = process.argv.slice(2);
  if (!root) throw new Error('usage: node bench/mcp_bench.js ROOT [RUNS]');
  const runs = Number(runsText ?? 5);
  const client = new Client({ name: 'mcp-bench', version: '1.0.0' });
  await client.connect(new StdioClientTransport({
    command: process.execPath, args: [path.join(nodeDir, 'mcp', 'main.js'), '--timeout', '600000', root],
    env: { ...process.env },
  }));
  console.log(`- root: ${root}; ${runs} timed runs after one warm-up; max_results 100; times in ms\n`);
  console.log('| case | matches | server | library | server/library |');
  console.log('|---|---|---|---|---|');
  for (const [label, args] of cases) {
    let matches = 0;
    const server = await timed(runs, async () => {
      const r = await client.callTool({ name: 'search', arguments: { ...args, max_results: 100 } });
      if (r.isError) throw new Error(r.content[0].text);
      matches = r.structuredContent.matches.length;
    });
    const options = { ignore_case: Boolean(args.ignore_case), max_results: 101, follow_links: false,
      timeout_ms: 600000 };
    if (args.regex) options.syntax = 'standard';
    if (args.include) options.include_globs = args.include;
    const library = await timed(runs, () => qg.search(root, args.pattern, options));
    console.log(`| ${label} | ${matches} | ${server.text} | ${library.text} | ` +
      `${(server.median / library.median).toFixed(2)} |`);
  }
  await client.close();
  await busy(root);
}

/** The server with 40 searches in flight: the read's time, and the searches' times. */
async function busy(root) {
  const client = new Client({ name: 'mcp-bench-busy', version: '1.0.0' });
  await client.connect(new StdioClientTransport({
    command: process.execPath, args: [path.join(nodeDir, 'mcp', 'main.js'), '--timeout', '10000', root],
    env: { ...process.env },
  }));
  const file = require('node:fs').readdirSync(root).find((n) => n === 'README' || n === 'Makefile');
  const sent = Date.now();
  const searches = Array.from({ length: 40 }, () => client.callTool({ name: 'search',
    arguments: { pattern: 'pthread_(mutex|cond)_lock', regex: true } }, undefined, { timeout: 120000 })
    .then((r) => ({ ms: Date.now() - sent, timedOut: r.structuredContent?.timed_out === true,
      waited: r.isError === true })));
  await new Promise((resolve) => setTimeout(resolve, 200));
  const asked = Date.now();
  const read = await client.callTool({ name: 'read_lines', arguments: { path: file, start_line: 1, end_line: 2 } });
  const readMs = Date.now() - asked;
  const done = await Promise.all(searches);
  const times = summary(done.map((d) => d.ms));
  console.log('\n| under load | result |\n|---|---|');
  console.log(`| read_lines of 2 lines, sent 200 ms after 40 searches | ${readMs} ms${read.isError ? ' (error)' : ''} |`);
  console.log(`| the 40 searches answered after (min/median/max ms) | ${times.text} |`);
  console.log(`| searches that ran and stopped at the 10 s limit | ${done.filter((d) => d.timedOut).length} |`);
  console.log(`| searches answered at their limit while waiting | ${done.filter((d) => d.waited).length} |`);
  await client.close();
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
