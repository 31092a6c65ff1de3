// pgnlive: every board's game of a round, live, for the spectators in the hall and for
// online broadcasts.
//
//   pgnlive [--pairings FILE] [--out FOLDER] [--listen [ADDRESS:]PORT] BOARD_FOLDER...
//
// Board N is the recorder whose session folder is the Nth BOARD_FOLDER (live/board.h). Its
// game is published (live/publication.h) with the tags of the pairings file, which is read
// at start and again within a second of each change: into FOLDER as games.pgn (every
// board's game, in board order) and game-N.pgn, and over HTTP (live/server.h) as
// /games.pgn, /game-N.pgn and the spectators' page at /, which an event stream keeps up to
// date. The folders are watched with the system's change notification; a folder that is
// not there yet is looked for every half second. pgnlive only reads the recorders' files.
#pragma once

// Runs pgnlive with its command line; answers the exit code: 2 for a command line that
// cannot be used, 1 when it cannot start (the address cannot be listened on, the folder of
// --out cannot be made), else it runs until it is stopped (Ctrl-C), with 0.
int PgnliveMain(int argc, char** argv);
