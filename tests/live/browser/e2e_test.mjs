// A round broadcast end to end: four boards, each a boardsim playing a script on a virtual
// serial line and a chessrec recording it into a folder of its own, one pgnlive over the four
// folders with the arbiter's pairings file, and two spectators in chromium (a phone, a hall
// screen) who watch the games come in. Board 1 ends in a mate for White under a name of
// markup, board 2 takes a move back, castles and is followed by a new game (the arbiter then
// enters a draw in the pairings file), board 3 is a mate for Black between UTF-8 names, board
// 4 is the Opera Game with its new game after it. Then what pgnlive publishes: /games.pgn and
// --out's games.pgn the same bytes, every game read by chess.js and by pgn-extract without a
// complaint. Every program started is stopped by SIGINT at the end (killed if it will not go);
// each recorder must say that it saved its games.
// Usage: node run.mjs e2e_test.mjs BUILD_DIR ARTIFACT_DIR
//   (BUILD_DIR holds chessrec, boardsim and pgnlive; screenshots and the run's files go to
//   ARTIFACT_DIR; exit 0 when all holds, 77 when this machine cannot run it)
import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {Chess} from 'chess.js';
import {CheckError, Spectators, checkLayout} from './checks.mjs';
import {skip} from './run.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const kPgnExtract = '/usr/games/pgn-extract';
const kGapMs = 300;              // between two board events
const kGameTimeoutMs = 60000;    // for a board's whole game to show
const kStopTimeoutMs = 5000;     // for a program to end after SIGINT
const kHostile = '<img src=x onerror=alert(1)><b>&amp;</b></span>';

const kRound = {Event: 'Club Championship', Site: 'Hall A', Date: '2026.12.09', Round: '3'};
const kBoards = [
  {white: kHostile, black: 'Kramnik, V.', whiteElo: '2750', blackElo: '', result: '1-0',
   script: 'e2e4 e7e5 f1c4 b8c6 d1h5 g8f6 h5f7', saved: 1},
  // Nf3 taken back for e3; O-O as the board reports it, the king's move; then a new game.
  {white: 'Ding, L.', black: 'Непомнящий, Ян', whiteElo: '2780', blackElo: '2771',
   result: '1/2-1/2', script: 'd2d4 d7d5 c2c4 e7e6 b1c3 g8f6 c1g5 f8e7 g1f3 t e2e3 e8g8 g1f3 n',
   saved: 2},
  {white: 'Ørsted, Søren', black: 'Đukić, Ana', whiteElo: '', blackElo: '2301', result: '0-1',
   script: 'f2f3 e7e5 g2g4 d8h4', saved: 1},
  {white: 'Morphy, P.', black: 'Brunswick & Isouard', whiteElo: '', blackElo: '', result: '1-0',
   script: fs.readFileSync(path.resolve(here, '../../../samples/opera_game.txt'), 'utf8'),
   saved: 2},
];

// The pairings file; with draw, board 2's group carries the arbiter's result.
function pairingsText(draw) {
  const tag = (name, value) => (value ? `[${name} "${value}"]\n` : '');
  let text = '% Club Championship, round 3\n';
  for (const [name, value] of Object.entries(kRound)) text += tag(name, value);
  kBoards.forEach((b, i) => {
    text += `\n[Board "${i + 1}"]\n` + tag('White', b.white) + tag('Black', b.black) +
            tag('WhiteElo', b.whiteElo) + tag('BlackElo', b.blackElo) +
            (draw && i === 1 ? tag('Result', b.result) : '');
  });
  return text;
}

// What a board's script comes to, read by chess.js: the moves in SAN, the last move's
// squares, whether it mates, whether a new game follows it.
function expectedGame(script) {
  const chess = new Chess();
  let newGame = false;
  for (const token of script.replace(/#.*$/gm, '').split(/\s+/).filter(Boolean)) {
    if (newGame) throw new Error(`a script here ends with its new game, not with ${token}`);
    if (token === 'n') newGame = true;
    else if (token === 't') chess.undo();
    else chess.move({from: token.slice(0, 2), to: token.slice(2, 4), promotion: 'q'});
  }
  const history = chess.history({verbose: true});
  const last = history[history.length - 1];
  return {moves: history.map((m) => m.san), lastMove: last.san, marked: [last.from, last.to],
          mate: chess.isCheckmate(), newGame};
}

// A program run by the test: its output kept, waited on with deadlines, stopped at the end.
class Program {
  static all = [];

  constructor(name, file, args, env = {}) {
    this.name = name;
    this.command = [file, ...args].join(' ');
    this.stdout = '';
    this.stderr = '';
    this.done = false;
    this.watchers = new Set();
    this.child = spawn(file, args,
                       {env: {...process.env, ...env}, stdio: ['ignore', 'pipe', 'pipe']});
    this.exited = new Promise((resolve) => {
      const end = (code, signal) => {
        if (this.done) return;
        Object.assign(this, {done: true, code, signal});
        this.notify();
        resolve();
      };
      this.child.on('close', end);
      this.child.on('error', (err) => {
        this.stderr += `(cannot run it: ${err.message})\n`;
        end(null, null);
      });
    });
    for (const stream of ['stdout', 'stderr']) {
      this.child[stream].setEncoding('utf8');
      this.child[stream].on('data', (text) => {
        this[stream] += text;
        this.notify();
      });
    }
    Program.all.push(this);
  }

  notify() {
    for (const watcher of [...this.watchers]) watcher();
  }

  ending() {
    return this.signal ? `signal ${this.signal}` : `exit code ${this.code}`;
  }

  // The match of pattern on the program's stream, once it shows there.
  waitFor(stream, pattern, timeoutMs) {
    return new Promise((resolve, reject) => {
      const finish = (settle, value) => {
        clearTimeout(timer);
        this.watchers.delete(check);
        settle(value);
      };
      const check = () => {
        const match = this[stream].match(pattern);
        if (match) finish(resolve, match);
        else if (this.done) {
          finish(reject, new CheckError(`${this.name} ended (${this.ending()}) before its ` +
                                        `${stream} showed ${pattern}`));
        }
      };
      const timer = setTimeout(() => finish(reject, new CheckError(
          `${this.name}: waited ${timeoutMs} ms for ${pattern} on its ${stream}`)), timeoutMs);
      this.watchers.add(check);
      check();
    });
  }

  // SIGINT, then SIGKILL if it has not ended after timeoutMs; whether SIGINT ended it.
  async stop(timeoutMs = kStopTimeoutMs) {
    if (this.done) return true;
    this.child.kill('SIGINT');
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(resolve, timeoutMs, 'late'); });
    const how = await Promise.race([this.exited, late]);
    clearTimeout(timer);
    if (how !== 'late') return true;
    this.child.kill('SIGKILL');
    await this.exited;
    return false;
  }

  // Every line of its standard error must match one of patterns.
  expectOnlyLines(patterns) {
    for (const line of this.stderr.split('\n').filter(Boolean)) {
      if (!patterns.some((p) => p.test(line))) {
        throw new CheckError(`${this.name} said on its standard error: ${line}`);
      }
    }
  }

  report() {
    const state = this.done ? this.ending() : 'still running';
    return `== ${this.name} (${state}): ${this.command}\n` +
           `-- standard output:\n${this.stdout || '(nothing)\n'}` +
           `-- standard error:\n${this.stderr || '(nothing)\n'}`;
  }

  static killAll() {
    for (const p of Program.all) if (!p.done) p.child.kill('SIGKILL');
  }
}

// The recorders first, so that they save their games before their lines hang up.
async function stopAll() {
  const recorder = (p) => p.name.startsWith('chessrec');
  await Promise.all(Program.all.filter(recorder).map((p) => p.stop()));
  await Promise.all(Program.all.filter((p) => !recorder(p)).map((p) => p.stop()));
}

// Waits until check() gives no difference, asking again every 50 ms; after timeoutMs it
// fails with what() and the last difference.
async function eventually(check, what, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const diff = await check();
    if (!diff) return;
    if (Date.now() >= deadline) throw new CheckError(`waited ${timeoutMs} ms for ${what}: ${diff}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

async function heading(s) {
  return s.page.evaluate(() => [document.getElementById('event'),
                               ...document.querySelectorAll('#meta span')]
                                  .map((e) => e.textContent).join(' · '));
}

// Board i's game as the page must show it once its script is played (and, for board 2, the
// arbiter's result is in).
function shownAtEnd(b, game, withResult = true) {
  const over = withResult || game.mate;
  return {white: b.white, black: b.black, whiteElo: b.whiteElo ? `(${b.whiteElo})` : '',
          blackElo: b.blackElo ? `(${b.blackElo})` : '', moves: game.moves,
          lastMove: game.lastMove, marked: game.marked, state: over ? 'finished' : 'playing',
          result: over ? b.result : ''};
}

// Every game of the published file read by chess.js: its tags, its moves, its result.
function checkWithChessJs(pgn, games) {
  const texts = pgn.trim().split(/\r?\n\r?\n(?=\[)/);
  if (texts.length !== kBoards.length) {
    throw new CheckError(`games.pgn holds ${texts.length} games, not ${kBoards.length}`);
  }
  texts.forEach((text, i) => {
    const b = kBoards[i];
    const chess = new Chess();
    try {
      chess.loadPgn(text, {strict: true});
    } catch (err) {
      throw new CheckError(`chess.js cannot read game ${i + 1} of games.pgn: ${err.message}`);
    }
    const tags = chess.getHeaders();
    const want = {...kRound, White: b.white, Black: b.black, Result: b.result,
                  Board: String(i + 1)};
    if (b.whiteElo) want.WhiteElo = b.whiteElo;
    if (b.blackElo) want.BlackElo = b.blackElo;
    for (const [name, value] of Object.entries(want)) {
      if (tags[name] !== value) {
        throw new CheckError(`game ${i + 1}: [${name} "${tags[name]}"], not "${value}"`);
      }
    }
    const moves = chess.history();
    if (JSON.stringify(moves) !== JSON.stringify(games[i].moves)) {
      throw new CheckError(`game ${i + 1}: chess.js reads ${moves.join(' ')}`);
    }
    if (chess.isCheckmate() !== games[i].mate) {
      throw new CheckError(`game ${i + 1}: chess.js says checkmate ${chess.isCheckmate()}`);
    }
    const marker = text.trim().split(/\s+/).pop();
    if (marker !== b.result) throw new CheckError(`game ${i + 1} ends with ${marker}`);
  });
}

// pgn-extract reads every game and has nothing to say. False where it is not installed.
function checkWithPgnExtract(file, dir) {
  if (!fs.existsSync(kPgnExtract)) return false;
  const extracted = path.join(dir, 'pgn-extract.pgn');
  const run = spawnSync(kPgnExtract, ['-s', '-o', extracted, file], {encoding: 'utf8'});
  const said = `${run.stdout || ''}${run.stderr || ''}${run.error ? run.error.message : ''}`;
  if (run.status !== 0 || said.trim()) {
    throw new CheckError(
        `pgn-extract -s -o ${extracted} ${file} (exit code ${run.status}):\n${said}`);
  }
  const count = (fs.readFileSync(extracted, 'utf8').match(/^\[Event /gm) || []).length;
  if (count !== kBoards.length) throw new CheckError(`pgn-extract passed on ${count} games`);
  return true;
}

async function main() {
  const [buildDir, artifacts] = process.argv.slice(2).map((p) => p && path.resolve(p));
  if (!artifacts) throw new Error('usage: node run.mjs e2e_test.mjs BUILD_DIR ARTIFACT_DIR');
  const bin = (name) => path.join(buildDir, name);
  const dir = path.join(artifacts, 'e2e');
  fs.rmSync(dir, {recursive: true, force: true});
  for (const s of ['phone', 'hall']) {
    fs.rmSync(path.join(artifacts, `e2e-failure-${s}.png`), {force: true});
  }
  fs.mkdirSync(path.join(dir, 'out'), {recursive: true});
  const folder = (i) => path.join(dir, `b${i + 1}`);
  const pairings = path.join(dir, 'pairings.pgn');
  fs.writeFileSync(pairings, pairingsText(false));
  const games = kBoards.map((b) => expectedGame(b.script));

  let browser;
  let extracted = false;
  let passed = 0;
  const spectators = [];
  const step = async (name, fn) => {
    const t0 = Date.now();
    await fn();
    ++passed;
    console.log(`ok - ${name} (${Date.now() - t0} ms)`);
  };
  try {
    // The boards first: where this machine has no virtual serial line, nothing else starts.
    const boards = kBoards.map((b, i) => {
      const script = path.join(dir, `board-${i + 1}.txt`);
      fs.writeFileSync(script, b.script);
      return new Program(`boardsim ${i + 1}`, bin('boardsim'),
                         ['live', script, '--gap', String(kGapMs), '--hold']);
    });
    const devices = [];
    for (const board of boards) {
      try {
        devices.push((await board.waitFor('stdout', /^device (\S+)$/m, 10000))[1]);
      } catch (err) {
        if (/cannot open a virtual serial line/.test(board.stderr)) {
          Program.killAll();
          skip(`no virtual serial line: ${board.stderr.trim()}`);
        }
        throw err;
      }
    }
    // Board 4's folder is not there yet when pgnlive starts.
    for (let i = 0; i < 3; ++i) fs.mkdirSync(folder(i));
    const pgnlive = new Program('pgnlive', bin('pgnlive'), [
      '--pairings', pairings, '--out', path.join(dir, 'out'), '--listen', '127.0.0.1:0',
      ...kBoards.map((b, i) => folder(i))]);
    const url = (await pgnlive.waitFor('stderr', /listening on (http:\/\/127\.0\.0\.1:\d+\/)/,
                                       10000))[1];
    let phone, hall;
    await step('before the recorders start, the page shows four boards waiting, ' +
               'the names from the pairings file as text', async () => {
      browser = await Spectators.launch();
      phone = await browser.open(url, 'phone', {colorScheme: 'dark'});
      spectators.push(phone);
      hall = await browser.open(url, 'hall');
      spectators.push(hall);
      await Promise.all([phone, hall].map(async (s) => {
        await s.waitForConnection('live');
        await s.waitForBoardCount(kBoards.length);
        for (const [i, b] of kBoards.entries()) {
          await s.waitForBoard(i + 1, {state: 'waiting', moves: [], white: b.white,
                                       black: b.black, result: ''});
        }
        const h = await heading(s);
        if (h !== 'Club Championship · Hall A · 2026.12.09 · Round 3') {
          throw new CheckError(`${s.name}: heading "${h}"`);
        }
      }));
    });

    fs.mkdirSync(folder(3));
    const recorders = kBoards.map((b, i) => new Program(
        `chessrec ${i + 1}`, bin('chessrec'), [],
        {CHESSREC_DIR: folder(i), CHESSREC_PORT: devices[i]}));
    await step('every move played reaches both spectators; mates are marked and scored',
               async () => {
      await Promise.all([phone, hall].map(async (s) => {
        for (const [i, b] of kBoards.entries()) {
          await s.waitForBoard(i + 1, shownAtEnd(b, games[i], false), {timeoutMs: kGameTimeoutMs});
        }
      }));
    });

    await step('after a new game the finished game stays on show; the arbiter\'s result ' +
               'in the pairings file reaches the page', async () => {
      await Promise.all(kBoards.map(async (b, i) => {
        if (games[i].newGame) await recorders[i].waitFor('stdout', /^New game$/m, kGameTimeoutMs);
      }));
      fs.writeFileSync(`${pairings}.tmp`, pairingsText(true));
      fs.renameSync(`${pairings}.tmp`, pairings);
      await Promise.all([phone, hall].map(async (s) => {
        for (const [i, b] of kBoards.entries()) {
          await s.waitForBoard(i + 1, shownAtEnd(b, games[i]));
        }
      }));
      await checkLayout(phone, 'phone');
      await checkLayout(hall, 'hall', {minDiagram: 400});
      await phone.screenshot(artifacts, 'e2e-phone.png', {fullPage: true});
      await hall.screenshot(artifacts, 'e2e-hall.png');
      phone.assertClean();
      hall.assertClean();
    });

    let pgn;
    await step('/games.pgn and /game-N.pgn are the bytes of --out\'s files', async () => {
      const names = ['games.pgn', ...kBoards.map((b, i) => `game-${i + 1}.pgn`)];
      await eventually(async () => {
        for (const name of names) {
          const response = await fetch(url + name);
          const served = Buffer.from(await response.arrayBuffer());
          const file = path.join(dir, 'out', name);
          const written = fs.existsSync(file) ? fs.readFileSync(file) : null;
          if (response.status !== 200) return `/${name}: status ${response.status}`;
          if (!written || !served.equals(written)) {
            return `/${name} (${served.length} bytes) differs from ${file} ` +
                   `(${written ? written.length : 'no'} bytes)`;
          }
        }
        pgn = fs.readFileSync(path.join(dir, 'out', 'games.pgn'), 'utf8');
        return '';
      }, 'the files of --out to be what the server serves', 5000);
    });

    await step('chess.js reads every game with its tags, moves and result', async () => {
      checkWithChessJs(pgn, games);
    });
    await step('pgn-extract reads every game without a warning', async () => {
      extracted = checkWithPgnExtract(path.join(dir, 'out', 'games.pgn'), dir);
    });

    await step('stopped by SIGINT, each recorder saves its games; then pgnlive ends', async () => {
      for (const [i, recorder] of recorders.entries()) {
        if (!(await recorder.stop())) throw new CheckError(`${recorder.name} ignored SIGINT`);
        const saved = kBoards[i].saved;
        const line = new RegExp(`^chessrec: ${saved} games? saved in .*chessrec\\.000\\.pgn$`, 'm');
        if (recorder.code !== 0 || !line.test(recorder.stderr)) {
          throw new CheckError(`${recorder.name} (${recorder.ending()}) did not say that it ` +
                               `saved ${saved} game${saved > 1 ? 's' : ''}`);
        }
        recorder.expectOnlyLines([/^chessrec: session 000 in /, line]);
      }
      for (const board of boards) await board.stop();
      if (!(await pgnlive.stop()) || pgnlive.code !== 0) {
        throw new CheckError(`pgnlive did not end at SIGINT with exit code 0: ${pgnlive.ending()}`);
      }
      if (pgnlive.stdout) throw new CheckError(`pgnlive wrote to its standard output`);
      pgnlive.expectOnlyLines([/^pgnlive: board 4 waits for its folder /,
                               /^pgnlive: publishing 4 boards$/, /^pgnlive: listening on /,
                               /^pgnlive: writing games\.pgn and game-N\.pgn into /]);
    });
  } catch (err) {
    for (const s of spectators) {
      await s.screenshot(artifacts, `e2e-failure-${s.name}.png`).catch(() => {});
      console.error(`${s.name}'s console:\n  ${s.console.join('\n  ') || '(nothing)'}`);
    }
    await stopAll();
    for (const p of Program.all) console.error(p.report());
    throw err;
  } finally {
    if (browser) await browser.close().catch(() => {});
    await stopAll();
  }
  if (!extracted) skip(`everything else passed, but there is no ${kPgnExtract} to read the games`);
  console.log(`e2e_test: ${passed} passed, 0 failed`);
}

// A hung browser or program must not hang the test run, nor outlive it.
const watchdog = setTimeout(() => {
  console.error('e2e_test: FAILED: no end after 150 s');
  for (const p of Program.all) console.error(p.report());
  Program.killAll();
  process.exit(2);
}, 150000);
watchdog.unref();
process.on('exit', () => Program.killAll());
for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
  process.on(signal, () => {
    console.error(`e2e_test: FAILED: stopped by ${signal}`);
    process.exit(1);
  });
}

main().then(
    () => process.exit(0),
    (err) => {
      console.error(`e2e_test: FAILED: ${err.message}`);
      console.log('e2e_test: 0 passed, 1 failed');
      process.exit(1);
    });
