// Runs one browser test of pgnlive's page where this machine can, and says why not where it
// cannot: no Node.js 20, no /usr/bin/chromium, or no node_modules (npm ci here). Such a test is
// skipped (exit code 77, CTest's SKIP_RETURN_CODE), never failed, unless
// CHESSREC_REQUIRE_BROWSER=1, as in CI, where a test that cannot run fails.
//   node run.mjs page_test.mjs ARTIFACT_DIR
//   node run.mjs e2e_test.mjs BUILD_DIR ARTIFACT_DIR
// A test calls skip(why) itself for what only it knows of (a virtual serial line, pgn-extract).
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

export const kSkipCode = 77;
const here = path.dirname(fileURLToPath(import.meta.url));

export function skip(why) {
  const test = path.basename(process.argv[1] || 'browser test', '.mjs');
  if (process.env.CHESSREC_REQUIRE_BROWSER === '1') {
    console.error(`${test}: FAILED: ${why} (CHESSREC_REQUIRE_BROWSER=1: it must run here)`);
    process.exit(1);
  }
  console.log(`${test}: skipped: ${why}`);
  process.exit(kSkipCode);
}

function missing() {
  const major = Number(process.versions.node.split('.')[0]);
  if (major < 20) {
    return `Node.js ${process.versions.node} is too old for playwright-core (20 or later)`;
  }
  try {
    fs.accessSync('/usr/bin/chromium', fs.constants.X_OK);
  } catch {
    return 'no /usr/bin/chromium (Debian\'s package chromium)';
  }
  for (const pkg of ['playwright-core', 'chess.js']) {
    if (!fs.existsSync(path.join(here, 'node_modules', pkg, 'package.json'))) {
      return `no ${pkg} in ${path.join(here, 'node_modules')} (run npm ci there)`;
    }
  }
  return '';
}

if (process.argv[1] && import.meta.url === pathToFileURL(path.resolve(process.argv[1])).href) {
  const test = process.argv[2];
  if (!test) {
    console.error('usage: node run.mjs TEST.mjs ARGS...');
    process.exit(2);
  }
  // The test sees its own command line: node TEST.mjs ARGS...
  process.argv.splice(1, 2, path.resolve(here, test));
  const why = missing();
  if (why) skip(why);
  // Not awaited: the test imports skip() from this module, which must have finished by then.
  import(pathToFileURL(process.argv[1]).href).catch((err) => {
    console.error(err);
    process.exit(1);
  });
}
