'use strict';
// The install step: builds the library and the addon with CMake from the
// clone this folder belongs to (in build-node/ at the clone's top, reused by
// later installs), then puts the addon and a copy of the library in build/
// beside index.js, where the addon finds the library by its own folder.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const here = path.resolve(__dirname, '..');
const source = path.resolve(here, '..', '..');
const build = path.join(source, 'build-node');
const out = path.join(here, 'build');

function run(program, args) {
  try {
    execFileSync(program, args, { stdio: ['ignore', process.stderr, process.stderr] });
  } catch (error) {
    if (error.code === 'ENOENT') {
      throw new Error(`${program} is not installed; run ./scripts/setup.sh in ${source} first`);
    }
    throw error;
  }
}

if (!fs.existsSync(path.join(source, 'CMakeLists.txt'))) {
  throw new Error(`the addon is built from a clone of quenmar-grep: no CMakeLists.txt at ${source} ` +
    '(install the folder with npm install --install-links=false, so that npm links it)');
}
if (!fs.existsSync(path.join(build, 'CMakeCache.txt'))) {
  run('cmake', ['-S', source, '-B', build, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
    '-DQG_BUILD_TESTS=OFF', '-DQG_BUILD_CLI=OFF', '-DQG_BUILD_BENCH=OFF',
    '-DQG_WARNINGS_AS_ERRORS=OFF']);
}
run('cmake', ['--build', build, '--target', 'quenmar_grep_node', '--parallel']);
const addon = path.join(build, 'bindings', 'node', 'quenmar_grep.node');
if (!fs.existsSync(addon)) {
  throw new Error('Node-API headers were not found, so no addon was built (Debian: apt install libnode-dev)');
}
fs.mkdirSync(out, { recursive: true });
fs.copyFileSync(addon, path.join(out, 'quenmar_grep.node'));
fs.copyFileSync(fs.realpathSync(path.join(build, 'libquenmar-grep.so.1')),
  path.join(out, 'libquenmar-grep.so.1'));
