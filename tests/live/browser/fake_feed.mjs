// A stand-in for pgnlive's HTTP side: serves the spectators' page at / under pgnlive's
// Content-Security-Policy, and at /events a feed of Server-Sent Events that a test scripts:
// "retry: 2000", the whole state, then each change, as pgnlive sends them.
import http from 'node:http';
import fs from 'node:fs';

export const kPageCsp =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; " +
    "connect-src 'self'; img-src data:";

export class FakeFeed {
  // page: the path of index.html; state: { round: {...}, boards: [{board: 1, ...}, ...] }
  constructor(page, state) {
    this.html = fs.readFileSync(page);
    this.state = structuredClone(state);
    this.streams = new Set();
    this.port = 0;
    this.server = null;
  }

  get url() {
    return `http://127.0.0.1:${this.port}/`;
  }

  // Listens on 127.0.0.1, on a free port the first time and on the same port after stop(),
  // as pgnlive started again would.
  async start(state) {
    if (state) this.state = structuredClone(state);
    this.server = http.createServer((req, res) => this.serve(req, res));
    await new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(this.port, '127.0.0.1', resolve);
    });
    this.port = this.server.address().port;
  }

  // Ends the server as a process exit would: every connection cut, nothing listening.
  async stop() {
    if (!this.server) return;
    const server = this.server;
    this.server = null;
    const closed = new Promise((resolve) => server.close(resolve));
    for (const res of this.streams) res.destroy();
    this.streams.clear();
    server.closeAllConnections();
    await closed;
  }

  serve(req, res) {
    const path = new URL(req.url, 'http://x').pathname;
    if (req.method !== 'GET') {
      res.writeHead(405).end();
    } else if (path === '/' || path === '/index.html') {
      res.writeHead(200, {
        'Content-Type': 'text/html; charset=utf-8',
        'Content-Security-Policy': kPageCsp,
        'Cache-Control': 'no-cache',
      });
      res.end(this.html);
    } else if (path === '/events') {
      res.writeHead(200, {'Content-Type': 'text/event-stream', 'Cache-Control': 'no-cache'});
      res.write('retry: 2000\n\n');
      res.write(event('round', this.state.round));
      for (const b of this.state.boards) res.write(event('board', b));
      res.write(': keep-alive\n\n');
      this.streams.add(res);
      res.on('close', () => this.streams.delete(res));
    } else {
      res.writeHead(404, {'Content-Type': 'text/plain'}).end('not found\n');
    }
  }

  broadcast(text) {
    for (const res of this.streams) res.write(text);
  }

  setRound(round) {
    this.state.round = structuredClone(round);
    this.broadcast(event('round', round));
  }

  // A board's whole game, replacing what the feed held for that board.
  setBoard(board) {
    const i = this.state.boards.findIndex((b) => b.board === board.board);
    if (i >= 0) this.state.boards[i] = structuredClone(board);
    else this.state.boards.push(structuredClone(board));
    this.broadcast(event('board', board));
  }
}

function event(name, data) {
  return `event: ${name}\ndata: ${JSON.stringify(data)}\n\n`;
}
