// One board of a round: the session folder of its recorder, and the game it shows.
//
// The recorder keeps its game in progress in NAME.NNN.current.pgn (the games of the
// session that could not be saved, then the game in progress), replaced whole by a rename
// after every move, and appends every finished game to NAME.NNN.pgn, through its backup
// NAME.NNN.pgn.bak while it rewrites the file. The board's game is the one being played:
// the game in progress of the newest session (the game-in-progress file written last) when
// that game has a move. Otherwise the finished game stays on show until the next game's
// first move: the last game with a move ahead of the game in progress in that file (its
// save failed), else the last game with a move saved in the folder's sessions, the newest
// file first; it holds the game's last moves even when the game in progress was replaced
// again before they were read. While no saved game can be read, the game shown before
// stays. A folder that does not exist, or holds no session, is a board that waits.
//
// Nothing here ever gets in a recorder's way: files are only read, with a handle that lets
// the recorder write, rename and remove them meanwhile, and only for as long as the read
// takes. A game is shown only when it was read whole and parses: a PGN file is not read
// while its backup exists (a save is rewriting it), nor taken when it changed during the
// read; otherwise the game shown stays, and the next change reads again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "game/partie.h"
#include "platform/platform.h"

namespace live {

class Board {
public:
    explicit Board(std::string folder);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Reads what changed in the folder. Answers whether the game shown changed.
    bool Refresh();

    // The game shown, or null while the board waits.
    CPartie* Game() const { return game_.get(); }
    const std::string& Folder() const { return folder_; }

private:
    // A file as it was when it was last read.
    struct Seen {
        std::string path;
        platform::FileInfo info;
        bool operator==(const Seen& other) const {
            return path == other.path && info.size == other.info.size &&
                   info.modified == other.info.modified;
        }
    };

    // Shows game when it differs from the game shown; answers whether it did.
    bool Show(std::unique_ptr<CPartie> game);
    // The last game with a move saved in the folder's sessions, newest file first; complete
    // is false when a file could not be read whole (a save rewrites it).
    std::unique_ptr<CPartie> LastSavedGame(const std::vector<Seen>& pgnFiles, bool* complete);

    std::string folder_;
    std::unique_ptr<CPartie> game_;
    std::string gameText_;   // the game shown, as the recorder writes it
    Seen current_;           // the game-in-progress file read last
    bool showSaved_ = true;  // no game in progress with a move: the last saved game is shown
    Seen saved_;             // the newest saved file when it was last looked at whole
};

// Reads the whole file at path with a handle that shares everything. False when it cannot
// be read.
bool ReadSharedFile(const std::string& path, std::string* text);

}  // namespace live
