// What is known about a game apart from its moves: the values of its PGN tags.
//
// CInfosPartie holds the Seven Tag Roster, the correspondence fields and where the game's
// text lies in its PGN file. CInfosPartie2 adds what a list of games needs (the next
// link, the ECO code, a preview of the move text), the further tags and the file name the
// game is saved to. CPGNHeader is one further tag.
//
// A text field is std::nullopt when it holds no string, which is not the empty string.
//
// Ownership: a header owns the header behind its next link and the first node of its tag
// list; a tag node owns the node behind it. Destroying the first element of a chain
// destroys the whole chain (iteratively, whatever its length).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/path.h"

// Result codes: 0 "1-0", 1 "1/2-1/2", 2 "0-1", 3 "*"; -1 no result set (no Result tag).
constexpr std::int32_t kResultWhiteWins = 0;
constexpr std::int32_t kResultDraw = 1;
constexpr std::int32_t kResultBlackWins = 2;
constexpr std::int32_t kResultUnknown = 3;
constexpr std::int32_t kNoResult = -1;

// A result code's PGN text ("1-0", "1/2-1/2", "0-1" or "*"); null for any other code.
const char* ResultText(std::int32_t result);

// The longest preview, in bytes.
constexpr int kPreviewLength = 30;

class CInfosPartie {
public:
    // White "White", Black "Black", Event, Site, Round "?", Date "????.??.??", result 3.
    CInfosPartie();
    CInfosPartie(const CInfosPartie&) = delete;
    CInfosPartie& operator=(const CInfosPartie&) = delete;
    virtual ~CInfosPartie();

    // Each text setter stores a copy of exactly the text given, or none for a null text.
    virtual void SetWhite(const char* text);
    virtual void SetBlack(const char* text);
    virtual void SetDate(const char* text);
    virtual void SetRound(const char* text);
    virtual void SetSite(const char* text);
    virtual void SetEvent(const char* text);
    // The result code from its PGN text; anything but "1-0", "0-1", "1/2-1/2" and
    // "\xBD-\xBD" (the one-half sign of Windows-1252) gives 3. text must not be null.
    virtual void SetResultText(const char* text);
    // Stores code unchecked: 255 for a -1 passed in.
    virtual void SetResult(std::uint8_t code);

    // The unset state the PGN header scanner starts each game from: White and Black none,
    // result -1, Date "??\??", Round, Site and Event "?". Goes through the virtual setters.
    void Reset();

    std::optional<std::string> White;
    std::optional<std::string> Black;
    std::optional<std::string> Event;
    std::optional<std::string> Date;
    std::optional<std::string> Round;
    std::optional<std::string> Site;
    std::int32_t result;
    // Correspondence: White's and Black's addresses, the date and number of the last move
    // (0 none), and the side to move after it (0 White, 32 Black).
    std::optional<std::string> WhiteEmail;
    std::optional<std::string> BlackEmail;
    std::optional<std::string> LastMoveDate;
    std::int16_t LastMove;
    std::uint16_t Trait;
    // Where the game's text lies in its PGN file: its first byte, and just past its end.
    std::uint32_t startOffset;
    std::uint32_t endOffset;
};

// One further tag: a name (kept in the letter case of its first insertion) and a value.
class CPGNHeader {
public:
    CPGNHeader(const char* name, const char* value);
    CPGNHeader(const CPGNHeader&) = delete;
    CPGNHeader& operator=(const CPGNHeader&) = delete;
    // Destroys the nodes behind this one too.
    virtual ~CPGNHeader();

    std::string value;
    std::string name;
    CPGNHeader* next;  // owned
};

class CInfosPartie2 : public CInfosPartie {
public:
    CInfosPartie2();
    // Destroys the headers behind the next link and the tag list too.
    ~CInfosPartie2() override;

    // Sets the value of the tag called name (compared without regard to letter case), or
    // appends a new tag. Answers the node that holds the value, or null when no node
    // could be allocated (the list is then unchanged). name and value must not be null.
    virtual CPGNHeader* SetTag(const char* name, const char* value);
    // Unlinks node (looked up by identity) from the tag list without destroying it or
    // changing its next link. Answers node, or null when it is not in the list.
    virtual CPGNHeader* RemoveTag(CPGNHeader* node);

    void SetECO(const char* text);
    // Keeps at most the first 30 bytes of text; none for a null text.
    void SetPreview(const char* text);

    CInfosPartie2* next;  // owned: the next header of a file object's game list
    std::optional<std::string> ECO;
    std::optional<std::string> preview;
    CPGNHeader* tags;  // owned: the further tags, in the order their names first appeared
    char fileName[platform::kMaxPath];
    std::int32_t reserved[8];  // no operation reads or changes them
};
