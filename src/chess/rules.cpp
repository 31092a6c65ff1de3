#include "chess/rules.h"

#include <cstdlib>

namespace {

// Does the king of the colour that moved stand attacked once the move f-t is made?
bool LeavesKingAttacked(CPosition& pos, Square f, Square t) {
    Side mover = SideOf(pos.board[f]);
    CPosition* after = new CPosition(&pos, f, t);
    Square king = FindKing(*after, mover);
    bool attacked = king != kNoSquare && IsAttacked(*after, king, kBlack - mover);
    DestroyTemporary(after);
    return attacked;
}

// Castling from the king's square e1 (e8 for Black) to g1 or c1: the squares between king
// and rook empty, the right held, the king not in check and not passing over an attacked
// square. Answers -1 when the move is no castling move after all (then it is an ordinary
// king step).
int CastlingAllowed(const CPosition& pos, Square king, Square t) {
    Side enemy = kBlack - SideOf(pos.board[king]);
    for (int right = 0; right < 4; ++right) {
        const CastlingMove& castle = kCastlingMoves[right];
        if (pos.board[king] != castle.king || king != castle.kingFrom || t != castle.kingTo)
            continue;
        // the rook's right stands for the rook: its square is not looked at
        int step = castle.rookFrom > king ? 1 : -1;
        if (!pos.castling[right] || !IsPathClear(pos, king, step, castle.rookFrom)) return -1;
        // a king may not castle out of or through check (into check: the king safety test)
        return !IsAttacked(pos, king, enemy) && !IsAttacked(pos, castle.rookTo, enemy);
    }
    return -1;
}

// Along a rank or a file, with nothing in between.
int RookReach(const CPosition& pos, Square f, Square t) {
    if (RankOf(t) == RankOf(f)) {
        int step = FileOf(t) > FileOf(f) ? 1 : (FileOf(t) < FileOf(f) ? -1 : 0);
        return IsPathClear(pos, f, step, t);
    }
    if (FileOf(t) == FileOf(f)) return IsPathClear(pos, f, RankOf(t) > RankOf(f) ? 8 : -8, t);
    return 0;
}

// Along a diagonal, with nothing in between.
int BishopReach(const CPosition& pos, Square f, Square t) {
    if (std::abs(FileOf(t) - FileOf(f)) != std::abs(RankOf(t) - RankOf(f))) return 0;
    int step;
    if (FileOf(t) > FileOf(f)) {
        step = RankOf(t) > RankOf(f) ? 9 : -7;
    } else {
        step = RankOf(t) > RankOf(f) ? 7 : -9;
    }
    return IsPathClear(pos, f, step, t);
}

// Is the side to move in check?
bool InCheck(const CPosition& pos) {
    Square king = FindKing(pos, pos.side);
    return king != kNoSquare && IsAttacked(pos, king, kBlack - pos.side);
}

}  // namespace

int IsPathClear(const CPosition& pos, int start, int step, int target) {
    for (int s = start + step; s != target; s += step) {
        if (s < kA1 || s > kH8 || step == 0) return 0;
        if (pos.board[s] != kEmpty) return 0;
    }
    return 1;
}

int CanReach(const CPosition& pos, Square f, Square t) {
    Piece piece = pos.board[f];
    int dF = std::abs(FileOf(t) - FileOf(f));
    int dR = std::abs(RankOf(t) - RankOf(f));
    switch (KindOf(piece)) {
        case kPawn: {
            int ahead = IsBlack(piece) ? -1 : 1;
            if (dF == 1) return pos.board[t] != kEmpty && RankOf(t) == RankOf(f) + ahead;
            if (dF != 0 || pos.board[t] != kEmpty) return 0;
            if (RankOf(t) == RankOf(f) + ahead) return 1;
            // the double step from the pawn's own rank, over an empty square
            int home = IsBlack(piece) ? kRank7 : kRank2;
            return RankOf(f) == home && RankOf(t) == home + 2 * ahead &&
                   pos.board[f + 8 * ahead] == kEmpty;
        }
        case kRook:
            return RookReach(pos, f, t);
        case kKnight:
            return (dF == 2 && dR == 1) || (dF == 1 && dR == 2);
        case kBishop:
            return BishopReach(pos, f, t);
        case kQueen:
            return RookReach(pos, f, t) || BishopReach(pos, f, t);
        case kKing:
            return dF <= 1 && dR <= 1;
        default:
            return 0;
    }
}

bool IsAttacked(const CPosition& pos, Square s, Side side) {
    for (int square = 0; square < 64; ++square) {
        Piece piece = pos.board[square];
        if (piece == kEmpty || SideOf(piece) != side || square == s) continue;
        if (KindOf(piece) == kPawn) {
            // a pawn attacks the two squares diagonally one rank ahead, occupied or not
            int ahead = side == kBlack ? -1 : 1;
            if (RankOf(s) == RankOf(square) + ahead && std::abs(FileOf(s) - FileOf(square)) == 1)
                return true;
        } else if (CanReach(pos, static_cast<Square>(square), s)) {
            return true;
        }
    }
    return false;
}

Square FindKing(const CPosition& pos, Side side) {
    for (int square = 0; square < 64; ++square) {
        if (pos.board[square] == side + kKing) return static_cast<Square>(square);
    }
    return kNoSquare;
}

int IsLegal(CPosition& pos, Square f, Square t) {
    pos.lastQueryFrom = f;
    pos.lastQueryTo = t;
    int legal = 0;
    Piece piece = pos.board[f];
    Piece target = pos.board[t];
    if (piece == kEmpty) {
        legal = 0;
    } else if (target != kEmpty && IsBlack(target) == IsBlack(piece)) {
        legal = 0;  // a piece never takes one of its own colour
    } else if (t == pos.enPassant && KindOf(piece) == kPawn) {
        // en passant: only the diagonal step onto the square passed over can take there,
        // so a pawn of the other colour stands in for the one that passed
        pos.board[t] = IsBlack(piece) ? kPawn : kBlack + kPawn;
        legal = CanReach(pos, f, t);
        pos.board[t] = target;
    } else if ((piece == kKing && f == kE1) || (piece == kBlack + kKing && f == kE8)) {
        legal = CastlingAllowed(pos, f, t);
        if (legal < 0) legal = CanReach(pos, f, t);  // an ordinary king step; never two files
    } else {
        legal = CanReach(pos, f, t);
    }
    // a move may not leave the mover's own king attacked
    if (legal && LeavesKingAttacked(pos, f, t)) legal = 0;
    pos.lastQueryResult = legal;
    return legal;
}

void ListRivals(CPosition& pos, Square f, Square t, Square squares[64], int* count) {
    *count = 0;
    for (int s = 0; s < 64; ++s) {
        if (s == f || pos.board[s] != pos.board[f]) continue;
        // a pinned piece is no rival: it could not make the move
        if (CanReach(pos, static_cast<Square>(s), t) &&
            !LeavesKingAttacked(pos, static_cast<Square>(s), t)) {
            squares[(*count)++] = static_cast<Square>(s);
        }
    }
}

bool HasLegalMove(CPosition& pos) {
    // IsLegal records every query: the verdict kept for Play is put back afterwards.
    const Square queryFrom = pos.lastQueryFrom;
    const Square queryTo = pos.lastQueryTo;
    const std::int32_t queryResult = pos.lastQueryResult;
    bool found = false;
    for (int f = 0; f < 64 && !found; ++f) {
        Piece piece = pos.board[f];
        if (piece == kEmpty || SideOf(piece) != pos.side) continue;
        for (int t = 0; t < 64 && !found; ++t)
            found = t != f && IsLegal(pos, static_cast<Square>(f), static_cast<Square>(t));
    }
    pos.lastQueryFrom = queryFrom;
    pos.lastQueryTo = queryTo;
    pos.lastQueryResult = queryResult;
    return found;
}

bool IsCheckmate(CPosition& pos) {
    return InCheck(pos) && !HasLegalMove(pos);
}

bool IsStalemate(CPosition& pos) {
    return !InCheck(pos) && !HasLegalMove(pos);
}

CPosition* CPosition::Play(Square from, Square to, CCoup* replaced, std::uint8_t promotion) {
    if (from > kH8 || to > kH8) return nullptr;
    if (from != lastQueryFrom || to != lastQueryTo) IsLegal(*this, from, to);
    if (lastQueryResult == 0) return nullptr;

    CPosition* after = new CPosition(this, from, to);
    CCoup* move = after->lastMove;

    // Castling rights go with the king's and the rooks' squares: a move from the king's
    // square, or from or to a rook's corner, ends the rights that need it.
    for (int right = 0; right < 4; ++right) {
        const CastlingMove& castle = kCastlingMoves[right];
        if (from == castle.kingFrom || from == castle.rookFrom || to == castle.rookFrom)
            after->castling[right] = 0;
    }

    if (!continuation) {
        continuation = move;
    } else if (replaced) {
        // The new move takes replaced's place in the chain; replaced goes with its line.
        move->nextAlternative = replaced->nextAlternative;
        move->previousAlternative = replaced->previousAlternative;
        if (move->nextAlternative) move->nextAlternative->previousAlternative = move;
        if (move->previousAlternative) {
            move->previousAlternative->nextAlternative = move;
        } else {
            continuation = move;
        }
        replaced->nextAlternative = nullptr;
        replaced->previousAlternative = nullptr;
        delete replaced;
    } else {
        CCoup* last = continuation;
        while (last->nextAlternative)
            last = last->nextAlternative;
        last->nextAlternative = move;
        move->previousAlternative = last;
    }

    Piece piece = board[from];
    bool lastRank = RankOf(to) == (IsBlack(piece) ? kRank1 : kRank8);
    if (KindOf(piece) == kPawn && lastRank) {
        std::uint8_t kind = promotion != 0 ? promotion : kQueen;
        move->promotion = kind;
        after->board[to] = static_cast<Piece>(kind + SideOf(piece));
    }

    move->check = InCheck(*after);
    return after;
}
