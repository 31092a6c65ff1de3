#include "session/in_progress.h"

#include <string>

#include "pgn/keep.h"
#include "pgn/save.h"
#include "pgn/session.h"
#include "pgn/writer.h"
#include "session/bounded.h"
#include "session/log.h"
#include "session/state.h"

namespace {

// The PGN of the session's games that could not be saved, separated as saves separate
// them: they stay in the file until a recorder puts them into the PGN file.
std::string unsaved;

// Writes the unsaved games, and game after them when given, to the file; a failure is
// logged once until a write works again.
void Keep(CPartie* game) {
    SessionState& session = TheSession();
    bool ok = game ? WriteGameFile(*game, session.gameInProgressPath, unsaved)
                   : WriteFileInOneStep(session.gameInProgressPath, unsaved, true);
    if (ok) {
        session.gameInProgressReported = 0;
        return;
    }
    if (session.gameInProgressReported) return;
    session.gameInProgressReported = 1;
    SystemErrorReport("WriteFile(game in progress)", platform::LastError());
}

}  // namespace

void KeepGameInProgressAt(const char* path) {
    SessionState& session = TheSession();
    BoundedCopy(session.gameInProgressPath, sizeof session.gameInProgressPath, path ? path : "");
    session.gameInProgressReported = 0;
    unsaved.clear();
}

void KeepGameInProgress() {
    CPartie* game = ThePgnSession().currentGame;
    if (TheSession().gameInProgressPath[0] != '\0' && game) Keep(game);
}

std::uint32_t SaveGameInProgress(bool sessionEnds) {
    const char* path = TheSession().gameInProgressPath;
    CPartie* game = ThePgnSession().currentGame;
    if (path[0] == '\0' || !game) return SaveAndReleaseCurrentGame();
    std::string text = GameText(*game);
    std::uint32_t result = SaveAndReleaseCurrentGame();
    if (result != 0) unsaved += unsaved.empty() ? text : "\r\n" + text;
    // Until the next game is written, the file holds the game just saved, which the next
    // start finds at the end of the PGN file already.
    if (!sessionEnds) return result;
    if (unsaved.empty()) {
        platform::RemoveFile(path);
    } else {
        Keep(nullptr);
    }
    return result;
}
