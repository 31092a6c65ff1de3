// Move legality, decided one proposed move at a time. There is no move generator: the only
// enumerations are scans of the 64 squares in ascending order. The colour of the moving
// piece decides whose rules apply; the side to move is not consulted.
#pragma once

#include "chess/position.h"

// Can the piece on f move to t by its way of moving, with nothing in between? Ignores the
// colour of a piece on t, castling and en passant.
int CanReach(const CPosition& pos, Square f, Square t);

// Are the squares start + step, start + 2 * step, ... up to (not including) target empty?
int IsPathClear(const CPosition& pos, int start, int step, int target);

// Is square s attacked by a piece of colour side?
bool IsAttacked(const CPosition& pos, Square s, Side side);

// The first square holding the king of colour side, or kNoSquare.
Square FindKing(const CPosition& pos, Side side);

// Is f-t a legal move here? Records the query and its answer in the query cache.
int IsLegal(CPosition& pos, Square f, Square t);

// Writes into squares, ascending, every other square holding the piece that stands on f
// whose piece could legally move to t; their number goes into count.
void ListRivals(CPosition& pos, Square f, Square t, Square squares[64], int* count);

// Has the side to move in pos (pos.side) a legal move? Leaves pos as it was, query cache
// included.
bool HasLegalMove(CPosition& pos);

// Is the side to move in check with no legal move?
bool IsCheckmate(CPosition& pos);

// Has the side to move no legal move without being in check?
bool IsStalemate(CPosition& pos);
