#include "live/board.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "pgn/reader.h"
#include "pgn/writer.h"
#include "platform/path.h"

namespace live {
namespace {

// A session file larger than this is no recorder's: it is not read.
constexpr std::uint64_t kLargestFile = 256u << 20;

// Whether name is "STEM.NNN" + suffix, a session's file of that kind (".current.pgn" for
// the game in progress, ".pgn" for the saved games).
bool IsSessionFile(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size() + 5 || name.substr(name.size() - suffix.size()) != suffix) {
        return false;
    }
    const std::string_view stem = name.substr(0, name.size() - suffix.size());
    const std::string_view number = stem.substr(stem.size() - 3);
    return stem[stem.size() - 4] == '.' &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The file written last first; between two files of one moment, the later name.
bool Newer(const platform::FileInfo& a, const std::string& aPath, const platform::FileInfo& b,
           const std::string& bPath) {
    return a.modified != b.modified ? a.modified > b.modified : aPath > bPath;
}

}  // namespace

bool ReadSharedFile(const std::string& path, std::string* text) {
    text->clear();
    platform::FileHandle file = platform::OpenFile(
        path.c_str(), platform::kRead, platform::Share::kAll, platform::Disposition::kOpenExisting);
    if (!file.IsValid()) return false;
    bool ok = true;
    char block[65536];
    for (;;) {
        std::uint32_t read = 0;
        if (!platform::ReadFile(file, block, sizeof block, &read)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        text->append(block, read);
        if (text->size() > kLargestFile) {
            ok = false;
            break;
        }
    }
    platform::CloseFile(file);
    return ok;
}

Board::Board(std::string folder) : folder_(std::move(folder)) {}

bool Board::Refresh() {
    std::vector<std::string> names;
    // A folder that is not there (yet, or any more): the board keeps what it shows.
    if (!platform::ListFolder(folder_.c_str(), &names)) return false;
    std::vector<Seen> currents;
    std::vector<Seen> pgnFiles;
    for (const std::string& name : names) {
        const bool current = IsSessionFile(name, ".current.pgn");
        if (!current && !IsSessionFile(name, ".pgn")) continue;
        Seen seen{platform::JoinPath(folder_, name), {}};
        if (!platform::GetFileInfo(seen.path.c_str(), &seen.info) || seen.info.isFolder) continue;
        (current ? currents : pgnFiles).push_back(std::move(seen));
    }
    const auto newer = [](const Seen& a, const Seen& b) {
        return Newer(a.info, a.path, b.info, b.path);
    };
    std::sort(currents.begin(), currents.end(), newer);
    std::sort(pgnFiles.begin(), pgnFiles.end(), newer);

    if (!currents.empty() && !(currents.front() == current_)) {
        std::string text;
        std::vector<PgnProblem> problems;
        if (ReadSharedFile(currents.front().path, &text)) {
            std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(text, &problems);
            // The file is replaced whole, so a read gives all of it; one that does not parse
            // is not taken, and read again at the next change.
            if (problems.empty() && !games.empty()) {
                current_ = currents.front();
                // A game in progress without a move (the board was reset): the game before
                // it is finished. Its save failed when it is still in this file, ahead of
                // the new one; otherwise it is the last saved game.
                showSaved_ = true;
                while (!games.empty()) {
                    std::unique_ptr<CPartie> game = std::move(games.back());
                    games.pop_back();
                    if (game->startingPosition.continuation) {
                        showSaved_ = false;
                        return Show(std::move(game));
                    }
                }
            }
        }
    } else if (currents.empty()) {
        showSaved_ = true;
    }
    // The finished game as it was saved: it holds its last moves even when the game in
    // progress was replaced before they were read. When nothing can be read now, the game
    // shown stays; the saved files are looked at again when the newest one changes.
    if (!showSaved_ || pgnFiles.empty() || pgnFiles.front() == saved_) return false;
    bool complete = false;
    std::unique_ptr<CPartie> saved = LastSavedGame(pgnFiles, &complete);
    if (complete) saved_ = pgnFiles.front();
    return Show(std::move(saved));
}

bool Board::Show(std::unique_ptr<CPartie> game) {
    if (!game) return false;
    std::string text = GameText(*game);
    if (text == gameText_ && game_) return false;
    game_ = std::move(game);
    gameText_ = std::move(text);
    return true;
}

std::unique_ptr<CPartie> Board::LastSavedGame(const std::vector<Seen>& pgnFiles, bool* complete) {
    *complete = false;
    for (const Seen& seen : pgnFiles) {
        // While the backup exists a save rewrites the file: nothing from it, nor from an
        // older session, until the save is done.
        const std::string backup = seen.path + ".bak";
        if (platform::FileExists(backup.c_str())) return nullptr;
        std::string text;
        platform::FileInfo after;
        if (!ReadSharedFile(seen.path, &text) ||
            !platform::GetFileInfo(seen.path.c_str(), &after) || after.size != seen.info.size ||
            after.modified != seen.info.modified || platform::FileExists(backup.c_str())) {
            return nullptr;
        }
        // Game after game, keeping only the last one with a move: a file of many games
        // costs one game's memory.
        std::unique_ptr<CPartie> last;
        ForEachPgnGame(text, [&](std::unique_ptr<CPartie> game) {
            if (game->startingPosition.continuation) last = std::move(game);
        });
        if (last) {
            *complete = true;
            return last;
        }
    }
    *complete = true;
    return nullptr;
}

}  // namespace live
