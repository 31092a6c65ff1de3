#include "pgn/reader.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "chess/rules.h"
#include "pgn/tokens.h"

namespace {

using pgn_tokens::IsDigit;
using pgn_tokens::Kind;
using pgn_tokens::Lexer;
using pgn_tokens::Shown;
using pgn_tokens::Token;

// Variations nest at most this deep; a deeper one makes the game a problem.
constexpr std::size_t kMaxDepth = 64;
// A FEN text is shown in a problem with at most this many bytes.
constexpr std::size_t kShownFen = 100;

// A move as SAN writes it.
struct San {
    int kind = 0;  // kPawn ... kKing
    std::uint8_t castling = kNoCastling;
    int fromFile = -1;  // hints, -1 none
    int fromRank = -1;
    Square to = kNoSquare;
    std::uint8_t promotion = 0;  // a piece kind, 0 none
};

int PieceKind(char letter) {
    switch (letter) {
        case 'K':
            return kKing;
        case 'Q':
            return kQueen;
        case 'R':
            return kRook;
        case 'B':
            return kBishop;
        case 'N':
            return kKnight;
        case 'P':
            return kPawn;
        default:
            return 0;
    }
}

// The kind a pawn becomes: Q R B N, also in lower case after '='.
int PromotionKind(char letter, bool afterEquals) {
    if (afterEquals && letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 32);
    int kind = PieceKind(letter);
    return kind == kKing || kind == kPawn ? 0 : kind;
}

bool IsFile(char c) {
    return c >= 'a' && c <= 'h';
}
bool IsRank(char c) {
    return c >= '1' && c <= '8';
}

// Parses a SAN move: [piece] [file] [rank] [x - :] square [=piece] [+ #], or castling.
bool ParseSan(std::string_view s, San* san) {
    while (!s.empty() && (s.back() == '+' || s.back() == '#'))
        s.remove_suffix(1);
    if (s == "O-O" || s == "0-0") {
        san->castling = kKingSideCastling;
        san->kind = kKing;
        return true;
    }
    if (s == "O-O-O" || s == "0-0-0") {
        san->castling = kQueenSideCastling;
        san->kind = kKing;
        return true;
    }
    if (s.empty()) return false;
    if (PieceKind(s[0]) != 0) {
        san->kind = PieceKind(s[0]);
        s.remove_prefix(1);
    } else if (IsFile(s[0])) {
        san->kind = kPawn;  // its file letter stays: it may be the target's
    } else {
        return false;
    }
    if (s.size() >= 2 && s[s.size() - 2] == '=') {
        san->promotion = static_cast<std::uint8_t>(PromotionKind(s.back(), true));
        if (san->promotion == 0) return false;
        s.remove_suffix(2);
    } else if (san->kind == kPawn && s.size() >= 3 && PromotionKind(s.back(), false) != 0) {
        san->promotion = static_cast<std::uint8_t>(PromotionKind(s.back(), false));
        s.remove_suffix(1);
    }
    if (san->promotion != 0 && san->kind != kPawn) return false;
    if (s.size() < 2 || !IsFile(s[s.size() - 2]) || !IsRank(s.back())) return false;
    san->to = static_cast<Square>((s.back() - '1') * 8 + (s[s.size() - 2] - 'a'));
    std::string_view hints = s.substr(0, s.size() - 2);
    std::size_t i = 0;
    if (i < hints.size() && IsFile(hints[i])) san->fromFile = hints[i++] - 'a';
    if (i < hints.size() && IsRank(hints[i])) san->fromRank = hints[i++] - '1';
    if (i < hints.size() && (hints[i] == 'x' || hints[i] == ':' || hints[i] == '-')) ++i;
    if (i != hints.size()) return false;
    // A pawn without a file hint goes straight ahead.
    if (san->kind == kPawn && san->fromFile < 0) san->fromFile = FileOf(san->to);
    return true;
}

// The squares of the one piece of the side to move that may make the move: the number
// of pieces that may (0, 1, or more), the first one's square in *from. IsLegal is asked
// only for the squares that hold a piece of the move's kind.
int FindMover(CPosition& pos, const San& san, Square* from, Square* to) {
    const Side side = pos.side;
    if (san.castling != kNoCastling) {
        const CastlingMove& castle =
            kCastlingMoves[(side == kBlack ? 2 : 0) + (san.castling == kQueenSideCastling)];
        *from = castle.kingFrom;
        *to = castle.kingTo;
        return pos.board[*from] == castle.king && IsLegal(pos, *from, *to) ? 1 : 0;
    }
    *to = san.to;
    const bool lastRank = RankOf(san.to) == (side == kWhite ? kRank8 : kRank1);
    if (san.promotion != 0 && !lastRank) return 0;
    const Piece piece = static_cast<Piece>(side + san.kind);
    int found = 0;
    for (int s = 0; s < 64; ++s) {
        if (pos.board[s] != piece) continue;
        if (san.fromFile >= 0 && FileOf(s) != san.fromFile) continue;
        if (san.fromRank >= 0 && RankOf(s) != san.fromRank) continue;
        // A king's step of two files is castling, which is written O-O.
        if (san.kind == kKing && std::abs(FileOf(s) - FileOf(san.to)) > 1) continue;
        if (!IsLegal(pos, static_cast<Square>(s), san.to)) continue;
        if (found++ == 0) *from = static_cast<Square>(s);
    }
    return found;
}

// Could the side not to move make the move? The board reports whatever is moved, so a
// recorded game may hold two moves of one side in a row, which the PGN standard cannot.
bool OtherSideCould(CPosition& pos, const San& san) {
    const Side side = pos.side;
    pos.side = static_cast<Side>(kBlack - side);
    Square from, to;
    const bool could = FindMover(pos, san, &from, &to) == 1;
    pos.side = side;
    return could;
}

// Plays from-to as a new alternative at the end of pos's chain of moves. Play walks the
// chain from its head to append; starting it at known, a member near the end, keeps a
// position with many variations linear to read.
CPosition* PlayAlternative(CPosition* pos, CCoup* known, Square from, Square to,
                           std::uint8_t promotion) {
    CCoup* head = pos->continuation;
    pos->continuation = known;
    CPosition* after = pos->Play(from, to, nullptr, promotion);
    pos->continuation = head;
    return after;
}

void Join(std::optional<std::string>* comment, const std::string& text) {
    if (!*comment) {
        *comment = text;
    } else if (!text.empty()) {
        if (!(*comment)->empty()) (*comment)->push_back(' ');
        (*comment)->append(text);
    }
}

// "move 12. " before a White move, "move 12... " before a Black one, from pos.
std::string MoveLabel(const CPosition& pos) {
    const int number = pos.moveNumber + (pos.side == kWhite ? 1 : 0);
    return "move " + std::to_string(number) + (pos.side == kWhite ? ". " : "... ");
}

bool IsMarker(const Token& token, std::int32_t* result) {
    if (token.kind == Kind::kStar) {
        *result = kResultUnknown;
        return true;
    }
    if (token.kind != Kind::kSymbol) return false;
    if (token.text == "1-0") {
        *result = kResultWhiteWins;
    } else if (token.text == "0-1") {
        *result = kResultBlackWins;
    } else if (token.text == "1/2-1/2") {
        *result = kResultDraw;
    } else {
        return false;
    }
    return true;
}

bool IsMoveNumber(std::string_view text) {
    for (char c : text) {
        if (!IsDigit(c)) return false;
    }
    return true;
}

// Reads the games one token at a time.
class GameReader {
public:
    GameReader(std::string_view text, const std::function<void(std::unique_ptr<CPartie>)>& take,
               std::vector<PgnProblem>* problems)
        : lexer_(text), take_(take), problems_(problems) {}

    void ReadAll() {
        Token token;
        do {
            lexer_.Next(&token);
        } while (Handle(token));
    }

private:
    enum class State {
        kBetween,  // no game begun
        kTags,
        kMoves,
        kSkip,  // the game failed: passing over the rest of it
    };

    // One line of moves: the main line or a variation.
    struct Line {
        explicit Line(CPosition* start) : current(start) {}

        CPosition* current;      // after the line's last move; where the line starts before
        CCoup* known = nullptr;  // a move of the chain that a variation here would join
        bool moved = false;
        int annotations = 0;                 // taken by the line's last move
        std::optional<std::string> pending;  // a comment before the line's first move
    };

    // Answers false at the end of the text.
    bool Handle(const Token& token) {
        if (state_ == State::kSkip) {
            std::int32_t result;
            if (token.afterEmptyLine) skipMayRestart_ = true;
            if (token.kind == Kind::kEnd) return false;
            if (IsMarker(token, &result)) {
                state_ = State::kBetween;
                return true;
            }
            if (token.kind != Kind::kTag && token.kind != Kind::kBadTag) {
                if (token.kind != Kind::kComment) skipMayRestart_ = true;
                return true;
            }
            // A tag pair right after a failed tag section belongs to it.
            if (!skipMayRestart_) return true;
            state_ = State::kBetween;
        }
        if (state_ == State::kBetween) {
            if (token.kind == Kind::kEnd) return false;
            if (token.kind == Kind::kComment) return true;
            Begin(token.line);
        }
        if (state_ == State::kTags) {
            if (token.kind == Kind::kTag) {
                Tag(token);
                return true;
            }
            if (token.kind == Kind::kBadTag) {
                Fail(token.why, token.faultLine);
                return true;
            }
            if (!EndTags()) return Handle(token);
        }
        return Movetext(token);
    }

    void Begin(int line) {
        game_ = std::make_unique<CPartie>();
        gameLine_ = line;
        state_ = State::kTags;
        setUp_.reset();
        fen_.reset();
    }

    void Fail(const std::string& what, int line) {
        if (problems_) {
            std::string text = what;
            if (line != gameLine_) text += " (line " + std::to_string(line) + ")";
            problems_->push_back({gameLine_, std::move(text)});
        }
        skipMayRestart_ = state_ == State::kMoves;
        state_ = State::kSkip;
        game_.reset();
        lines_.clear();
    }

    void Tag(const Token& token) {
        const std::string& name = token.name;
        const char* value = token.value.c_str();
        if (name == "Event") {
            game_->SetEvent(value);
        } else if (name == "Site") {
            game_->SetSite(value);
        } else if (name == "Date") {
            game_->SetDate(value);
        } else if (name == "Round") {
            game_->SetRound(value);
        } else if (name == "White") {
            game_->SetWhite(value);
        } else if (name == "Black") {
            game_->SetBlack(value);
        } else if (name == "Result") {
            game_->SetResultText(value);
        } else if (name == "SetUp") {
            setUp_ = token.value;
        } else if (name == "FEN") {
            fen_ = token.value;
            fenLine_ = token.line;
        } else {
            game_->SetTag(name.c_str(), value);
        }
    }

    // The tag section is over: sets the start up from the FEN tag (unless SetUp is "0").
    // Answers false when that failed.
    bool EndTags() {
        if (fen_ && setUp_ != "0") {
            CPosition& start = game_->startingPosition;
            if (start.SetFromFEN(fen_->c_str()) != 1) {
                Fail("FEN \"" + Shown(*fen_, kShownFen) + "\" is not valid", fenLine_);
                return false;
            }
            // One king of each side: a move of a king is written without hints.
            int kings[2] = {0, 0};
            for (Piece piece : start.board) {
                if (KindOf(piece) == kKing) ++kings[IsBlack(piece) ? 1 : 0];
            }
            if (kings[0] != 1 || kings[1] != 1) {
                Fail("FEN \"" + Shown(*fen_, kShownFen) + "\" has not one king of each side",
                     fenLine_);
                return false;
            }
        }
        lines_.reserve(kMaxDepth + 1);
        lines_.emplace_back(&game_->startingPosition);
        state_ = State::kMoves;
        return true;
    }

    bool Movetext(const Token& token) {
        std::int32_t result;
        switch (token.kind) {
            case Kind::kEnd:
                Fail("no termination marker", gameLine_);
                return false;
            case Kind::kTag:
            case Kind::kBadTag:
                // The next game's tags: this one stopped short.
                Fail("no termination marker before the tag pair on line " +
                         std::to_string(token.line),
                     gameLine_);
                state_ = State::kBetween;
                return Handle(token);
            case Kind::kComment:
                Comment(token.value);
                return true;
            case Kind::kOpen:
                Open(token.line);
                return true;
            case Kind::kClose:
                if (lines_.size() == 1) {
                    Fail("')' without '('", token.line);
                } else {
                    lines_.pop_back();
                }
                return true;
            case Kind::kNag:
                Annotate(token.number);
                return true;
            case Kind::kBad:
                Fail(token.why, token.line);
                return true;
            case Kind::kStar:
            case Kind::kSymbol:
                break;
        }
        if (IsMarker(token, &result)) {
            if (lines_.size() > 1) {
                Fail("variation not closed", token.line);
            } else {
                game_->SetResult(static_cast<std::uint8_t>(result));
                take_(std::move(game_));
                lines_.clear();
                state_ = State::kBetween;
            }
        } else if (!IsMoveNumber(token.text)) {
            Move(token);
        }
        return true;
    }

    void Move(const Token& token) {
        Line& line = lines_.back();
        CPosition* pos = line.current;
        San san;
        if (!ParseSan(token.text, &san)) {
            Fail(MoveLabel(*pos) + Shown(token.text) + " is not a move", token.line);
            return;
        }
        Square from = kNoSquare, to = kNoSquare;
        const int movers = FindMover(*pos, san, &from, &to);
        if (movers != 1) {
            Fail(MoveLabel(*pos) + Shown(token.text) +
                     (movers > 1
                          ? " is ambiguous"
                          : (OtherSideCould(*pos, san) ? " is not legal: the other side's move"
                                                       : " is not legal")),
                 token.line);
            return;
        }
        CPosition* after = nullptr;
        if (!line.moved && lines_.size() > 1) {
            // A variation's first move: an alternative to the move before it.
            Line& parent = lines_[lines_.size() - 2];
            after = PlayAlternative(pos, parent.known, from, to, san.promotion);
            if (after) parent.known = after->lastMove;
        } else {
            after = pos->Play(from, to, nullptr, san.promotion);
        }
        if (!after) {
            Fail(MoveLabel(*pos) + Shown(token.text) + " is not legal", token.line);
            return;
        }
        line.current = after;
        line.known = after->lastMove;
        line.moved = true;
        line.annotations = 0;
        if (line.pending) {
            after->comment = std::move(line.pending);
            line.pending.reset();
        }
    }

    void Comment(const std::string& text) {
        Line& line = lines_.back();
        if (line.moved || lines_.size() == 1) {
            Join(&line.current->comment, text);
        } else {
            Join(&line.pending, text);
        }
    }

    // The first annotation of a move is its annotation code, the second its position's
    // glyph; later ones, those before any move and the null annotation $0 are dropped.
    void Annotate(int number) {
        Line& line = lines_.back();
        if (!line.moved || number == 0) return;
        const auto value = static_cast<std::uint8_t>(number);
        if (line.annotations == 0) {
            line.current->lastMove->annotation = value;
        } else if (line.annotations == 1) {
            line.current->glyph = value;
        }
        ++line.annotations;
    }

    void Open(int tokenLine) {
        const Line& line = lines_.back();
        if (!line.moved) {
            Fail("a variation must follow a move", tokenLine);
            return;
        }
        if (lines_.size() > kMaxDepth) {
            Fail("variations nested deeper than " + std::to_string(kMaxDepth), tokenLine);
            return;
        }
        CPosition* base = line.current->lastMove->positionBefore;
        lines_.emplace_back(base);
    }

    Lexer lexer_;
    const std::function<void(std::unique_ptr<CPartie>)>& take_;
    std::vector<PgnProblem>* problems_;

    State state_ = State::kBetween;
    bool skipMayRestart_ = false;  // a tag pair now begins the next game
    std::unique_ptr<CPartie> game_;
    int gameLine_ = 0;
    std::optional<std::string> setUp_;
    std::optional<std::string> fen_;
    int fenLine_ = 0;
    std::vector<Line> lines_;  // the main line, then the variations open in it
};

}  // namespace

void ForEachPgnGame(std::string_view text,
                    const std::function<void(std::unique_ptr<CPartie>)>& take,
                    std::vector<PgnProblem>* problems) {
    GameReader(text, take, problems).ReadAll();
}

std::vector<std::unique_ptr<CPartie>> ReadPgnGames(std::string_view text,
                                                   std::vector<PgnProblem>* problems) {
    std::vector<std::unique_ptr<CPartie>> games;
    ForEachPgnGame(
        text, [&games](std::unique_ptr<CPartie> game) { games.push_back(std::move(game)); },
        problems);
    return games;
}
