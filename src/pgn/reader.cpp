#include "pgn/reader.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "chess/rules.h"

namespace {

// Variations nest at most this deep; a deeper one makes the game a problem.
constexpr std::size_t kMaxDepth = 64;
// A token is shown in a problem with at most this many bytes; a FEN text with more.
constexpr std::size_t kShownBytes = 24;
constexpr std::size_t kShownFen = 100;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
// A symbol (a move, a move number, a termination marker) is made of these; '/' is there
// for 1/2-1/2.
bool IsSymbolByte(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '+' || c == '#' || c == '=' || c == ':' ||
           c == '-' || c == '/';
}
bool IsNameByte(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_';
}

// The annotation code of a traditional suffix, or 0 for none of the six.
int SuffixCode(std::string_view suffix) {
    constexpr std::string_view kSuffixes[] = {"!", "?", "!!", "??", "!?", "?!"};
    for (int code = 1; code <= 6; ++code) {
        if (suffix == kSuffixes[code - 1]) return code;
    }
    return 0;
}

// At most limit bytes of a token, for a problem's text.
std::string Shown(std::string_view text, std::size_t limit = kShownBytes) {
    if (text.size() <= limit) return std::string(text);
    return std::string(text.substr(0, limit)) + "...";
}

enum class Kind {
    kEnd,
    kTag,      // name and value
    kBadTag,   // why
    kComment,  // value
    kOpen,
    kClose,
    kNag,  // number: 0 to 255, also a suffix's code
    kSymbol,
    kStar,
    kBad,  // why
};

struct Token {
    Kind kind = Kind::kEnd;
    int line = 1;                 // where the token starts
    int faultLine = 1;            // a bad tag pair: where it went wrong
    bool afterEmptyLine = false;  // an empty line came since the token before
    std::string_view text;        // a symbol's bytes
    int number = 0;
    std::string name;
    std::string value;
    std::string why;
};

// Cuts the text into tokens. Periods and '%' lines are passed over with the white space.
class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = start_ = 3;
    }

    void Next(Token* token) {
        SkipSpace(token);
        token->line = line_;
        if (at_ >= text_.size()) {
            token->kind = Kind::kEnd;
            return;
        }
        const char c = text_[at_];
        switch (c) {
            case '[':
                ReadTag(token);
                return;
            case '{':
                ++at_;
                if (ReadText('}', false, &token->value)) {
                    token->kind = Kind::kComment;
                } else {
                    Bad(token, at_ < text_.size() ? "NUL byte in a comment" : "comment not closed");
                }
                return;
            case ';': {
                std::size_t end = text_.find('\n', ++at_);
                if (end == std::string_view::npos) end = text_.size();
                // The blanks around a line's comment are not part of it.
                std::string_view rest = text_.substr(at_, end - at_);
                at_ = end;
                while (!rest.empty() && IsSpace(rest.back()))
                    rest.remove_suffix(1);
                while (!rest.empty() && IsSpace(rest.front()))
                    rest.remove_prefix(1);
                if (rest.find('\0') != std::string_view::npos) {
                    Bad(token, "NUL byte in a comment");
                } else {
                    // A CR alone breaks a line as in a {comment}: it reads as a space.
                    token->kind = Kind::kComment;
                    token->value.assign(rest);
                    for (char& byte : token->value) {
                        if (byte == '\r') byte = ' ';
                    }
                }
                return;
            }
            case '(':
            case ')':
            case '*':
                ++at_;
                token->kind = c == '(' ? Kind::kOpen : (c == ')' ? Kind::kClose : Kind::kStar);
                return;
            case '$':
                ReadNag(token);
                return;
            case '!':
            case '?': {
                std::size_t begin = at_;
                while (at_ < text_.size() && (text_[at_] == '!' || text_[at_] == '?'))
                    ++at_;
                token->number = SuffixCode(text_.substr(begin, at_ - begin));
                if (token->number == 0) {
                    Bad(token, "annotation " + Shown(text_.substr(begin, at_ - begin)) +
                                   " is none of ! ? !! ?? !? ?!");
                } else {
                    token->kind = Kind::kNag;
                }
                return;
            }
            default:
                break;
        }
        if (IsLetter(c) || IsDigit(c)) {
            std::size_t begin = at_;
            while (at_ < text_.size() && IsSymbolByte(text_[at_]))
                ++at_;
            token->kind = Kind::kSymbol;
            token->text = text_.substr(begin, at_ - begin);
            return;
        }
        ++at_;
        char shown[40];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            std::snprintf(shown, sizeof shown, "unexpected character '%c'", c);
        } else {
            std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", byte);
        }
        Bad(token, shown);
    }

private:
    bool AtLineStart() const { return at_ == start_ || text_[at_ - 1] == '\n'; }

    // Passes over white space, periods and '%' lines; notes an empty line among them.
    void SkipSpace(Token* token) {
        int breaks = 0;  // line breaks since the last byte that is not white space
        token->afterEmptyLine = false;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '\n') {
                ++line_;
                if (++breaks >= 2) token->afterEmptyLine = true;
                ++at_;
            } else if (IsSpace(c)) {
                ++at_;
            } else if (c == '%' && AtLineStart()) {
                std::size_t end = text_.find('\n', at_);
                at_ = end == std::string_view::npos ? text_.size() : end;
                breaks = 0;
            } else if (c == '.') {
                ++at_;
                breaks = 0;
            } else {
                break;
            }
        }
    }

    void Bad(Token* token, std::string why) {
        token->kind = Kind::kBad;
        token->why = std::move(why);
    }

    // Reads the rest of a tag value (escapes) or a comment up to closer, which it passes.
    // A line break reads as one space, except where the writer breaks a line without
    // taking a space: at the start, before closer, just after '(' or '{', and right after
    // another line break (the writer may end a line at its start). Answers
    // false for a NUL byte (at_ stays on it) or the end of the text.
    bool ReadText(char closer, bool escapes, std::string* out) {
        out->clear();
        while (at_ < text_.size()) {
            std::size_t run = at_;
            while (run < text_.size() && text_[run] != closer && text_[run] != '\r' &&
                   text_[run] != '\n' && text_[run] != '\0' && !(escapes && text_[run] == '\\'))
                ++run;
            out->append(text_.substr(at_, run - at_));
            at_ = run;
            if (at_ >= text_.size()) break;
            const char c = text_[at_];
            if (c == closer) {
                ++at_;
                return true;
            }
            if (c == '\0') return false;
            if (c == '\\') {
                const char next = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
                if (next == '"' || next == '\\') {
                    out->push_back(next);
                    at_ += 2;
                } else {
                    out->push_back(c);
                    ++at_;
                }
                continue;
            }
            // One line break: CR LF, LF or CR; the breaks right after it add nothing.
            const bool afterBreak = at_ > 0 && (text_[at_ - 1] == '\n' || text_[at_ - 1] == '\r');
            if (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n') ++at_;
            if (text_[at_] == '\n') ++line_;
            ++at_;
            const bool beforeCloser = at_ < text_.size() && text_[at_] == closer;
            if (!out->empty() && out->back() != '(' && out->back() != '{' && !beforeCloser &&
                !afterBreak)
                out->push_back(' ');
        }
        return false;
    }

    void SkipLineSpace() {
        while (at_ < text_.size() && IsSpace(text_[at_])) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
    }

    // A tag pair: '[', the name, the quoted value, ']', with white space between them.
    // When it is not one, the rest of the line where it went wrong is passed over.
    void ReadTag(Token* token) {
        ++at_;
        SkipLineSpace();
        std::size_t begin = at_;
        if (at_ < text_.size() && (IsLetter(text_[at_]) || IsDigit(text_[at_]))) {
            while (at_ < text_.size() && IsNameByte(text_[at_]))
                ++at_;
        }
        token->name.assign(text_.substr(begin, at_ - begin));
        SkipLineSpace();
        const char* why = nullptr;
        if (token->name.empty() || at_ >= text_.size() || text_[at_] != '"') {
            why = "not a tag pair: [Name \"value\"] expected";
        } else {
            ++at_;
            if (!ReadText('"', true, &token->value)) {
                why = at_ < text_.size() ? "NUL byte in a tag value" : "tag value not closed";
            } else {
                SkipLineSpace();
                if (at_ >= text_.size() || text_[at_] != ']') {
                    why = "not a tag pair: ']' expected after the value";
                } else {
                    ++at_;
                }
            }
        }
        if (!why) {
            token->kind = Kind::kTag;
            return;
        }
        token->kind = Kind::kBadTag;
        token->why = why;
        token->faultLine = line_;
        std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end;
    }

    // '$' and a number from 0 to 255.
    void ReadNag(Token* token) {
        std::size_t begin = ++at_;
        int number = 0;
        while (at_ < text_.size() && IsDigit(text_[at_])) {
            if (number <= 255) number = number * 10 + (text_[at_] - '0');
            ++at_;
        }
        if (at_ == begin) {
            Bad(token, "'$' without a number");
        } else if (number > 255) {
            Bad(token, "NAG $" + Shown(text_.substr(begin, at_ - begin)) + " is above 255");
        } else {
            token->kind = Kind::kNag;
            token->number = number;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t start_ = 0;  // past the byte order mark
    int line_ = 1;
};

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
