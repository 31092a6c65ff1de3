// Checks of the spectators' page as a spectator's browser sees it (Debian's chromium driven by
// playwright-core), for the test against the fake feed and for the end-to-end test with pgnlive.
//
//   const browser = await Spectators.launch();
//   const phone = await browser.open(url, 'phone');            // or 'hall', or {width, height}
//   await phone.waitForBoard(1, {lastMove: 'e4', marked: ['e2', 'e4']}, {timeoutMs: 1000});
//   await phone.screenshot(dir, 'phone.png');
//   phone.assertClean();                                       // no foreign request, no error
//   await browser.close();
//
// or, on a phone and a hall screen at once:
//   const {phone, hall} = await checkPage(browser, url, {artifactDir, boards: {1: {...}}});
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {chromium} from 'playwright-core';

export const kSizes = {
  phone: {width: 390, height: 844},
  hall: {width: 1920, height: 1080},
};

const kChromium = '/usr/bin/chromium';
const kArgs = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

export class CheckError extends Error {}

// One headless chromium with a fresh profile; each spectator is a page of its own.
export class Spectators {
  static async launch() {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'chessrec-page-'));
    const context = await chromium.launchPersistentContext(profile, {
      executablePath: kChromium,
      headless: true,
      args: kArgs,
      viewport: kSizes.phone,
    });
    return new Spectators(context, profile);
  }

  constructor(context, profile) {
    this.context = context;
    this.profile = profile;
  }

  // Opens url in a page of the given size ('phone', 'hall' or {width, height}) and colour scheme.
  async open(url, size, {colorScheme = 'light', name} = {}) {
    const viewport = typeof size === 'string' ? kSizes[size] : size;
    const page = await this.context.newPage();
    await page.setViewportSize(viewport);
    await page.emulateMedia({colorScheme});
    const spectator = new Spectator(page, url, name || (typeof size === 'string' ? size : 'page'));
    await page.goto(url);
    return spectator;
  }

  async close() {
    await this.context.close();
    fs.rmSync(this.profile, {recursive: true, force: true});
  }
}

export class Spectator {
  constructor(page, url, name) {
    this.page = page;
    this.name = name;
    this.origin = new URL(url).origin;
    this.foreign = [];   // requests to any other origin
    this.errors = [];    // console errors, uncaught exceptions, dialogs
    this.console = [];   // every console message, for the report of a failure
    page.on('request', (req) => {
      const u = req.url();
      if (!u.startsWith('data:') && new URL(u).origin !== this.origin) this.foreign.push(u);
    });
    page.on('console', (msg) => {
      this.console.push(`${msg.type()}: ${msg.text()} (${msg.location().url || 'no location'})`);
      if (msg.type() !== 'error' || this.isFeedDrop(msg)) return;
      this.errors.push(`console error: ${msg.text()} (${msg.location().url || 'no location'})`);
    });
    page.on('pageerror', (err) => this.errors.push(`uncaught: ${err.message}`));
    page.on('dialog', (d) => {
      this.errors.push(`dialog ${d.type()}: ${d.message()}`);
      d.dismiss().catch(() => {});
    });
  }

  // The browser logs an error when the feed's connection drops, is refused or answered with a
  // server error (pgnlive stopped or starting): the server's doing, not a fault of the page.
  isFeedDrop(msg) {
    const where = msg.location().url || '';
    return /net::ERR_|status of 5\d\d/.test(msg.text()) && where.startsWith(this.origin + '/events');
  }

  // What board n shows, read from the page, or null when it has no such board.
  async board(n) {
    return this.page.evaluate(readBoard, n);
  }

  // Waits until board n shows everything in expect (any of: lastMove, moves, marked [from, to],
  // pieces {square: 'Q'}, white, black, whiteElo, blackElo, result, state, status) and
  // returns what it shows; after timeoutMs it fails, saying what the board showed instead.
  async waitForBoard(n, expect, {timeoutMs = 5000} = {}) {
    return this.waitFor(() => this.board(n), (shown) => differences(shown, expect),
                        `board ${n} to show ${brief(expect)}`, timeoutMs);
  }

  // Waits until board n's last move is san (shown in its move list, in view).
  async waitForMove(n, san, {timeoutMs = 5000} = {}) {
    return this.waitForBoard(n, {lastMove: san}, {timeoutMs});
  }

  // Waits until the connection indicator says 'live' or 'reconnecting'.
  async waitForConnection(state, {timeoutMs = 10000} = {}) {
    const read = () => this.page.evaluate(() => document.getElementById('conn').textContent);
    return this.waitFor(read, (s) => (s === state ? [] : [`indicator says "${s}"`]),
                        `the connection indicator to say "${state}"`, timeoutMs);
  }

  // Waits until the page has exactly count board cards.
  async waitForBoardCount(count, {timeoutMs = 5000} = {}) {
    const read = () => this.page.evaluate(() => document.querySelectorAll('.card').length);
    return this.waitFor(read, (c) => (c === count ? [] : [`${c} boards`]),
                        `${count} boards`, timeoutMs);
  }

  // Reads the page until check(value) finds no difference. Between two reads it waits for the
  // page's next change, or 100 ms at most: no fixed sleep, and a change is seen at once.
  async waitFor(read, check, what, timeoutMs) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const value = await read();
      const diff = check(value);
      if (diff.length === 0) return value;
      const left = deadline - Date.now();
      if (left <= 0) {
        throw new CheckError(`${this.name}: waited ${timeoutMs} ms for ${what}; ` +
                             `it shows ${diff.join('; ')}`);
      }
      await this.page.evaluate(nextChange, Math.min(left, 100));
    }
  }

  // Where every card and its diagram are, in CSS pixels, with the window's size.
  async layout() {
    return this.page.evaluate(() => {
      const box = (e) => {
        const r = e.getBoundingClientRect();
        return {x: r.x, y: r.y + window.scrollY, w: r.width, h: r.height};
      };
      const cards = [...document.querySelectorAll('.card')]
                        .filter((c) => c.getClientRects().length > 0)
                        .map((c) => ({board: Number(c.dataset.board), card: box(c),
                                      diagram: box(c.querySelector('.diagram'))}));
      return {width: window.innerWidth, height: window.innerHeight, cards,
              pageWidth: document.documentElement.scrollWidth};
    });
  }

  async screenshot(dir, file, {fullPage = false} = {}) {
    fs.mkdirSync(dir, {recursive: true});
    await this.page.screenshot({path: path.join(dir, file), fullPage});
  }

  problems() {
    return [...this.foreign.map((u) => `request to another origin: ${u}`), ...this.errors];
  }

  assertClean() {
    const p = this.problems();
    if (p.length) throw new CheckError(`${this.name}: ${p.join('; ')}`);
  }

  async close() {
    await this.page.close();
  }
}

// Runs in the page: what card n shows.
function readBoard(n) {
  const card = document.querySelector(`.card[data-board="${n}"]`);
  if (!card) return null;
  const text = (sel) => card.querySelector(sel)?.textContent ?? '';
  const list = card.querySelector('.moves');
  const last = list.querySelector('.mv.last');
  let lastMoveInView = true;
  if (last) {
    const a = list.getBoundingClientRect();
    const b = last.getBoundingClientRect();
    lastMoveInView = b.top >= a.top - 1 && b.bottom <= a.bottom + 1;
  }
  const pieces = {};
  for (const u of card.querySelectorAll('.diagram use')) pieces[u.dataset.square] = u.dataset.piece;
  return {
    state: card.dataset.state,
    status: text('.status'),
    white: text('.pl.white .name'),
    black: text('.pl.black .name'),
    whiteElo: text('.pl.white .elo'),
    blackElo: text('.pl.black .elo'),
    moves: [...list.querySelectorAll('.mv')].map((e) => e.textContent),
    lastMove: last?.textContent ?? '',
    lastMoveInView,
    marked: [...card.querySelectorAll('.diagram .mark')].map((e) => e.dataset.square).sort(),
    pieces,
    result: text('.moves .res'),
    text: card.innerText,
    markup: document.querySelectorAll('img, iframe, object, embed').length,
  };
}

// Runs in the page: resolves at the page's next change, or after ms.
function nextChange(ms) {
  return new Promise((resolve) => {
    const done = () => {
      observer.disconnect();
      clearTimeout(timer);
      resolve();
    };
    const observer = new MutationObserver(done);
    observer.observe(document, {subtree: true, childList: true, characterData: true,
                                attributes: true});
    const timer = setTimeout(done, ms);
  });
}

// An expectation as a line of text, long move lists cut to their end.
function brief(expect) {
  return JSON.stringify(expect, (key, v) =>
      Array.isArray(v) && v.length > 8 ? `${v.length} moves: ... ${v.slice(-4).join(' ')}` : v);
}

function differences(shown, expect) {
  if (!shown) return ['no such board'];
  const diff = [];
  const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
  for (const [key, want] of Object.entries(expect)) {
    if (key === 'marked') {
      if (!same(shown.marked, [...want].sort())) diff.push(`marked [${shown.marked}]`);
    } else if (key === 'pieces') {
      for (const [sq, p] of Object.entries(want)) {
        if ((shown.pieces[sq] ?? '') !== p) diff.push(`${sq}: "${shown.pieces[sq] ?? ''}"`);
      }
    } else if (key === 'status') {
      if (!shown.status.includes(want)) diff.push(`status "${shown.status}"`);
    } else if (key === 'moves') {
      if (!same(shown.moves, want)) diff.push(`moves ${brief(shown.moves)}`);
    } else if (!same(shown[key], want)) {
      diff.push(`${key} ${JSON.stringify(shown[key])}`);
    }
  }
  // A name or move drawn as markup would leave an element behind, or its text would be gone.
  if (shown.markup > 0) diff.push(`${shown.markup} image or embedded elements in the page`);
  if (expect.lastMove !== undefined && !shown.lastMoveInView) {
    diff.push('the last move scrolled out of the move list');
  }
  return diff;
}

// Layout checks for a spectator's window: 'phone' (boards one under the other, each diagram
// nearly the full width), 'hall' (every board in the window, diagrams at least minDiagram
// pixels), 'single' (one board, as large as the window allows).
export async function checkLayout(spectator, kind, {minDiagram = 200} = {}) {
  const l = await spectator.layout();
  const fail = (why) => {
    throw new CheckError(`${spectator.name} (${l.width}x${l.height}): ${why}`);
  };
  if (l.cards.length === 0) fail('no board shown');
  if (l.pageWidth > l.width) fail(`the page is ${l.pageWidth} px wide: it scrolls sideways`);
  const sizes = l.cards.map((c) => Math.round(c.diagram.w));
  if (kind === 'phone') {
    l.cards.forEach((c, i) => {
      if (c.diagram.w < 0.88 * l.width) fail(`board ${c.board}'s diagram is ${sizes[i]} px wide`);
      if (i > 0 && c.card.y < l.cards[i - 1].card.y + l.cards[i - 1].card.h) {
        fail(`board ${c.board} is beside board ${l.cards[i - 1].board}, not under it`);
      }
    });
  } else if (kind === 'hall') {
    for (const c of l.cards) {
      if (c.card.x < 0 || c.card.y < 0 || c.card.x + c.card.w > l.width + 0.5 ||
          c.card.y + c.card.h > l.height + 0.5) {
        fail(`board ${c.board} lies outside the window`);
      }
      if (c.diagram.w < minDiagram) fail(`board ${c.board}'s diagram is ${Math.round(c.diagram.w)} px`);
    }
  } else if (kind === 'single') {
    if (l.cards.length !== 1) fail(`${l.cards.length} boards shown, not one`);
    if (l.cards[0].diagram.w < 0.8 * Math.min(l.width, l.height)) fail(`the diagram is ${sizes[0]} px`);
  }
  return l;
}

// The standard checks on a phone (dark colour scheme) and a hall screen (light): each waits
// until it shows every expectation of boards ({1: {lastMove: 'e4', marked: ['e2', 'e4']}, ...},
// as waitForBoard takes them), has its layout checked, leaves a screenshot in artifactDir
// (PREFIX-phone.png, the whole page; PREFIX-hall.png) and must have made no foreign request and
// logged no error. Returns both spectators, still open, for further checks.
export async function checkPage(browser, url, {artifactDir, boards, prefix = 'page',
                                               timeoutMs = 5000, minHallDiagram = 200}) {
  const phone = await browser.open(url, 'phone', {colorScheme: 'dark'});
  const hall = await browser.open(url, 'hall', {colorScheme: 'light'});
  await Promise.all([phone, hall].map(async (s) => {
    await s.waitForConnection('live', {timeoutMs});
    for (const [n, expect] of Object.entries(boards)) {
      await s.waitForBoard(Number(n), expect, {timeoutMs});
    }
  }));
  await checkLayout(phone, 'phone');
  await checkLayout(hall, 'hall', {minDiagram: minHallDiagram});
  await phone.screenshot(artifactDir, `${prefix}-phone.png`, {fullPage: true});
  await hall.screenshot(artifactDir, `${prefix}-hall.png`);
  phone.assertClean();
  hall.assertClean();
  return {phone, hall};
}
