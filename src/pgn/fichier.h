// The file object: one PGN file's path and the list of game headers it holds. It is the
// vehicle of every save (a saved game joins its list) and of the PGN index (Open).
//
// The list runs through the headers' next links and belongs to the file object:
// destroying the file object destroys its head, which destroys the rest.
#pragma once

#include <cstdint>

#include "game/infos.h"
#include "platform/path.h"
#include "platform/platform.h"

class CFichier {
public:
    // Binds the file object to the session's PGN path, with an empty list.
    CFichier();
    // Binds the file object to path (cut to platform::kMaxPath - 1 characters), with an empty list.
    explicit CFichier(const char* path);
    CFichier(const CFichier&) = delete;
    CFichier& operator=(const CFichier&) = delete;
    // Destroys the list and every header in it.
    virtual ~CFichier();

    // Reads the file into a fresh list of headers, one per complete game (the PGN header
    // scanner, src/pgn/scanner.cpp). Answers 1, or 0 when the file cannot be opened.
    virtual std::int32_t Open();
    // Appends header to the list; the file object owns it from then on. The end position
    // is not used here.
    virtual void AddGame(CInfosPartie2* header, std::uint32_t endPosition);
    // When b has a successor, that successor's start offset becomes a's end offset.
    virtual void LinkNextStart(CInfosPartie2* a, CInfosPartie2* b);
    // Told after game was rewritten in place with a size change; nothing to do here.
    virtual void GamesMoved(CInfosPartie2* game, std::int64_t sizeChange);

    char path[platform::kMaxPath];
    char* namePart;  // the character after the last path separator, or null when none
    CInfosPartie2* head;
    CInfosPartie2* tail;
    std::int32_t gameCount;  // games found by the last Open
};

// Shows a failed file operation: the system's text for code (or "Err 0x%08X" when it has
// none) under caption. owner is the owning window, null on this system.
void ShowErrorBox(void* owner, platform::ErrorCode code, const char* caption);
