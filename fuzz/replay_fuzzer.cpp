// A record file replayed as a whole, the way the recorder replays the file it is given:
// the session is set up as replay start-up sets it (a fresh session log, the record file
// open for reading, live 0, the board's greeting awaited, a new game current), the
// capture loop runs until the file ends or holds a bad record, and the game in progress
// is freed. New-game messages save into a PGN file of the scratch folder.
//
// Input: the whole record file, header fields included (records of 4 bytes of elapsed
// time, 4 bytes of count, then count bytes).
//
// Besides what the sanitizers catch: a replay never touches the board link; the current
// position belongs to the current game when the loop returns; the log keeps its line
// discipline, and the PGN file holds one game, with the tags of a new game, for each new
// game in the log (CheckSessionLog, CheckSessionPgn).
#include <cstdint>
#include <cstdio>
#include <string>

#include "board/iio.h"
#include "game/partie.h"
#include "pgn/session.h"
#include "recorder/capture.h"
#include "recorder/session.h"
#include "support.h"

namespace {

// A replay has no board: any use of the link is a fault.
class NoBoard : public IIOObject {
public:
    int Write(const void*, std::uint32_t, std::uint32_t*) override {
        PropertyFailed("a replay writes to the board");
    }
    ReadStart BeginRead(void*, std::uint32_t, std::uint32_t*) override {
        PropertyFailed("a replay reads from the board");
    }
    int CompleteRead() override { PropertyFailed("a replay reads from the board"); }
    int BlockingRead(void*, std::uint32_t, std::uint32_t*) override {
        PropertyFailed("a replay reads from the board");
    }
};

std::string recordPath;
std::string logPath;
std::string pgnPath;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsole();
    recordPath = ScratchFile("input.rec");
    logPath = ScratchFile("replay.log");
    pgnPath = ScratchFile("replay.pgn");
    std::snprintf(ThePgnSession().pgnPath, sizeof ThePgnSession().pgnPath, "%s", pgnPath.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(WriteWholeFile(recordPath, data, size));
    RemoveFile(pgnPath);
    RemoveFile(pgnPath + ".bak");

    SessionState& session = TheSession();
    PgnSession& pgn = ThePgnSession();
    session.log = platform::OpenFile(logPath.c_str(), platform::kWrite, platform::Share::kRead,
                                     platform::Disposition::kCreateAlways);
    FUZZ_CHECK(session.log.IsValid());
    session.live = 0;
    session.record = platform::OpenFile(recordPath.c_str(), platform::kRead, platform::Share::kRead,
                                        platform::Disposition::kOpenExisting);
    FUZZ_CHECK(session.record.IsValid());
    session.firstTimePending = 1;
    session.logColumn = 0;
    pgn.currentGame = new CPartie;
    CPosition* current = &pgn.currentGame->startingPosition;

    NoBoard board;
    CaptureLoop(&board, current);

    FUZZ_CHECK(current && pgn.currentGame);
    const CPosition* root = current;
    while (root->lastMove)
        root = root->lastMove->positionBefore;
    FUZZ_CHECK(root == &pgn.currentGame->startingPosition);

    platform::CloseFile(session.record);
    platform::CloseFile(session.log);
    delete pgn.currentGame;
    pgn.currentGame = nullptr;
    CheckSessionPgn(pgnPath, CheckSessionLog(ReadWholeFile(logPath)));
    return 0;
}
