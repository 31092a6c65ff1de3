// The spectators' page in chromium against a scripted feed: the whole state, moves one at a
// time (each shown within a second), a mate, a hostile name, the server restarting, 16 boards.
// Usage: node page_test.mjs ARTIFACT_DIR   (screenshots go there; exit 0 when all holds)
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {FakeFeed} from './fake_feed.mjs';
import {Spectators, checkLayout, checkPage} from './checks.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const kPage = path.resolve(here, '../../../src/live/page/index.html');
const kStart = 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1';
const kHostile = '<img src=x onerror=alert(1)>';
const kLongName = 'Wolfeschlegelsteinhausenbergerdorff-Leuchtenberg, Hubert Blaine Maximilian';

// 1. e4 e5 2. Bc4 Nc6 3. Qh5 Nf6 4. Qxf7#: each move with its squares, the piece that moved
// and the position after it.
const kMate = [
  ['e4', 'e2e4', 'P', 'rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1'],
  ['e5', 'e7e5', 'p', 'rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2'],
  ['Bc4', 'f1c4', 'B', 'rnbqkbnr/pppp1ppp/8/4p3/2B1P3/8/PPPP1PPP/RNBQK1NR b KQkq - 1 2'],
  ['Nc6', 'b8c6', 'n', 'r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/8/PPPP1PPP/RNBQK1NR w KQkq - 2 3'],
  ['Qh5', 'd1h5', 'Q', 'r1bqkbnr/pppp1ppp/2n5/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR b KQkq - 3 3'],
  ['Nf6', 'g8f6', 'n', 'r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4'],
  ['Qxf7#', 'h5f7', 'Q', 'r1bqkb1r/pppp1Qpp/2n2n2/4p3/2B1P3/8/PPPP1PPP/RNB1K1NR b KQkq - 0 4'],
];
// 120 plies of knights going out and back: a move list long enough to scroll.
const kShuffle = Array.from({length: 120}, (_, i) => ['Nf3', 'Nf6', 'Ng1', 'Ng8'][i % 4]);

const kNames = [
  'Anand, V.', 'Kramnik, V.', 'Ding, L.', 'Nepomniachtchi, I.', 'Carlsen, M.', 'Caruana, F.',
  'Hou, Yifan', 'Muzychuk, A.', 'Đukić, Ana', 'Ørsted, Søren', 'Nakamura, H.', 'So, W.',
  'Giri, A.', 'Firouzja, A.', 'Rapport, R.', 'Aronian, L.', 'Vachier-Lagrave, M.', 'Gukesh, D.',
  'Praggnanandhaa, R.', 'Abdusattorov, N.', 'Keymer, V.', 'Erigaisi, A.', 'Duda, J.-K.',
  'Wei, Yi', 'Ju, Wenjun', 'Lei, Tingjie', 'Goryachkina, A.', 'Kosteniuk, A.', 'Koneru, H.',
  'Tan, Zhongyi', 'Dzagnidze, N.', 'Harika, D.'];

function mateBoard(n, plies, extra = {}) {
  const played = kMate.slice(0, plies);
  const last = played[played.length - 1];
  return {
    board: n, white: 'Anand, V.', black: 'Kramnik, V.', whiteElo: '2750', blackElo: '',
    result: plies === kMate.length ? '1-0' : '*',
    state: plies === kMate.length ? 'finished' : 'playing',
    fen: last ? last[3] : kStart, lastMove: last ? last[1] : '',
    moves: played.map((m) => m[0]), ...extra,
  };
}

const kRound3 = {
  round: {event: 'Club Championship', site: 'Hall A', date: '2026.12.09', round: '3', boards: 4},
  boards: [
    mateBoard(1, 2),
    {board: 2, white: 'Ding, L.', black: 'Nepomniachtchi, I.', whiteElo: '2780',
     blackElo: '2771', result: '*', state: 'playing', lastMove: 'f6g8', moves: kShuffle,
     fen: 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 120 61'},
    {board: 3, white: 'Carlsen, M.', black: 'محمد علي', whiteElo: '2830', blackElo: '?',
     result: '*', state: 'waiting', fen: kStart, lastMove: '', moves: []},
    {board: 4, white: kHostile, black: kLongName, whiteElo: '2400', blackElo: '2190',
     result: '*', state: 'playing', lastMove: 'd2d4', moves: ['d4'],
     fen: 'rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1'},
  ],
};

// The next round, as pgnlive started again sends it: 16 boards, some waiting, some over.
function round4() {
  const boards = Array.from({length: 16}, (_, i) => {
    const n = i + 1;
    const names = {white: kNames[(2 * i) % kNames.length], black: kNames[(2 * i + 1) % kNames.length],
                   whiteElo: String(2500 + 17 * n), blackElo: String(2490 + 13 * n)};
    if (n % 5 === 0) return {...mateBoard(n, 0), ...names, state: 'waiting'};
    if (n % 4 === 0) {
      return {...mateBoard(n, 7), ...names, result: n % 8 ? '1-0' : '1/2-1/2'};
    }
    return {...mateBoard(n, 1 + (n % 6)), ...names};
  });
  boards[0] = {...boards[0], moves: ['d4', 'Nf6', 'c4'], lastMove: 'c2c4',
               fen: 'rnbqkb1r/pppppppp/5n2/8/2PP4/8/PP2PPPP/RNBQKBNR b KQkq c3 0 2'};
  return {round: {event: 'Club Championship', site: 'Hall A', date: '2026.12.10', round: '4',
                  boards: 16}, boards};
}

async function heading(s) {
  return s.page.evaluate(() => [document.getElementById('event'),
                               ...document.querySelectorAll('#meta span')]
                                  .map((e) => e.textContent).join(' · '));
}

function expectTrue(ok, what) {
  if (!ok) throw new Error(what);
}

async function main() {
  const artifacts = process.argv[2];
  if (!artifacts) throw new Error('usage: node page_test.mjs ARTIFACT_DIR');
  const feed = new FakeFeed(kPage, kRound3);
  await feed.start();
  const browser = await Spectators.launch();
  const steps = [];
  const step = async (name, fn) => {
    const t0 = Date.now();
    await fn();
    steps.push(name);
    console.log(`ok - ${name} (${Date.now() - t0} ms)`);
  };
  let phone, hall;
  try {
    await step('the whole state is drawn, at phone and hall sizes', async () => {
      ({phone, hall} = await checkPage(browser, feed.url, {
        artifactDir: artifacts, prefix: 'round-3', minHallDiagram: 400, boards: {
          1: {moves: ['e4', 'e5'], marked: ['e5', 'e7'], pieces: {e5: 'p', e4: 'P', e7: ''},
              white: 'Anand, V.', whiteElo: '(2750)', blackElo: '', status: 'White to move'},
          // The move list of 120 plies is scrolled to its end.
          2: {lastMove: 'Ng8', moves: kShuffle, marked: ['f6', 'g8']},
          3: {state: 'waiting', status: 'Waiting', marked: [], moves: [], blackElo: ''},
          4: {white: kHostile, black: kLongName, lastMove: 'd4'},
        }}));
      for (const s of [phone, hall]) {
        const h = await heading(s);
        expectTrue(h === 'Club Championship · Hall A · 2026.12.09 · Round 3',
                   `${s.name}: heading "${h}"`);
      }
    });
    const both = (fn) => Promise.all([phone, hall].map(fn));

    await step('each move shows within a second, ending with a mate', async () => {
      for (let plies = 3; plies <= kMate.length; ++plies) {
        const b = mateBoard(1, plies);
        const [san, squares, piece] = kMate[plies - 1];
        const [from, to] = [squares.slice(0, 2), squares.slice(2)];
        feed.setBoard(b);
        await both((s) => s.waitForBoard(1, {lastMove: san, moves: b.moves, marked: [from, to],
                                             pieces: {[to]: piece, [from]: ''}},
                                         {timeoutMs: 1000}));
      }
      await both((s) => s.waitForBoard(1, {state: 'finished', result: '1-0', status: '1-0',
                                            pieces: {f7: 'Q'}}, {timeoutMs: 1000}));
    });

    await step('a board beyond the round\'s count grows the page', async () => {
      feed.setBoard({...mateBoard(5, 1), white: 'Giri, A.', black: 'So, W.'});
      await both((s) => s.waitForBoardCount(5, {timeoutMs: 1000}));
      await both((s) => s.waitForBoard(5, {white: 'Giri, A.', lastMove: 'e4'}, {timeoutMs: 1000}));
      await hall.screenshot(artifacts, 'hall-after-mate.png');
    });

    await step('after the server restarts the page shows the new state in place of the old',
               async () => {
      await feed.stop();
      await both((s) => s.waitForConnection('reconnecting'));
      // While it starts, a proxy in front of pgnlive may answer with an error: the browser then
      // gives the connection up for good, and the page must open a new one itself.
      let refused = 0;
      await hall.page.route('**/events', (route) => {
        ++refused;
        return route.fulfill({status: 503, contentType: 'text/plain', body: 'starting\n'});
      }, {times: 1});
      await feed.start(round4());
      await both(async (s) => {
        await s.waitForConnection('live');
        await s.waitForBoardCount(16);
        await s.waitForBoard(1, {moves: ['d4', 'Nf6', 'c4'], marked: ['c2', 'c4'],
                                 state: 'playing', status: 'Black to move', result: ''});
        await s.waitForBoard(4, {result: '1-0', white: kNames[6]});
        await s.waitForBoard(5, {state: 'waiting', white: kNames[8]});
        const h = await heading(s);
        expectTrue(h.includes('Round 4') && !h.includes('Round 3'), `${s.name}: heading "${h}"`);
      });
      expectTrue(refused === 1, `the hall page's feed was refused ${refused} times, not once`);
    });

    await step('16 boards fit a hall screen; one board alone fills it', async () => {
      await checkLayout(hall, 'hall', {minDiagram: 200});
      await hall.screenshot(artifacts, 'hall-16-boards.png');
      await phone.screenshot(artifacts, 'phone-16-boards.png');
      await checkLayout(phone, 'phone');
      await hall.page.evaluate(() => { location.hash = '#board=4'; });
      await checkLayout(hall, 'single');
      await hall.screenshot(artifacts, 'hall-board-4.png');
    });

    await step('no request left the page\'s origin and nothing was logged as an error', async () => {
      phone.assertClean();
      hall.assertClean();
    });
    console.log(`page_test: ${steps.length} passed, 0 failed`);
  } catch (err) {
    for (const s of [phone, hall].filter(Boolean)) {
      await s.screenshot(artifacts, `failure-${s.name}.png`).catch(() => {});
      console.error(`${s.name}'s console:\n  ${s.console.join('\n  ') || '(nothing)'}`);
    }
    throw err;
  } finally {
    await browser.close();
    await feed.stop();
  }
}

// A hung browser must not hang the test run.
const watchdog = setTimeout(() => {
  console.error('page_test: FAILED: no end after 120 s');
  process.exit(2);
}, 120000);
watchdog.unref();

main().then(
    () => process.exit(0),
    (err) => {
      console.error(`page_test: FAILED: ${err.message}`);
      console.log('page_test: 0 passed, 1 failed');
      process.exit(1);
    });
