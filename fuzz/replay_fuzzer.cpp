// A record file replayed as a whole, the way the recorder replays the file it is given:
// the session is set up by the recorder's own start-up steps (session files, input,
// game), the capture loop runs until the file ends or holds a bad record, and the shutdown
// step frees the game in progress. New-game messages save into a PGN file of the scratch folder.
//
// Input: the whole record file, header fields included (records of 4 bytes of elapsed
// time, 4 bytes of count, then count bytes).
//
// Besides what the sanitizers catch: a replay never touches the board link; the current
// position belongs to the current game when the loop returns; the log keeps its line
// discipline, and the PGN file holds one game, with the tags of a new game, for each new
// game in the log (CheckSessionLog, CheckSessionPgn).
#include <cstdint>
#include <string>

#include "board/iio.h"
#include "game/partie.h"
#include "recorder/capture.h"
#include "recorder/startup.h"
#include "session/session.h"
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
std::string stem;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsole();
    recordPath = ScratchFile("input.rec");
    stem = ScratchFile("replay.");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(WriteWholeFile(recordPath, data, size));
    RemoveFile(stem + "000.pgn");
    RemoveFile(stem + "000.pgn.bak");

    ResetSession();
    RecorderRun run;
    run.replayPath = recordPath.c_str();
    FUZZ_CHECK(!OpenSessionFiles(run, stem.c_str()));
    FUZZ_CHECK(run.number == 0);
    FUZZ_CHECK(!OpenInput(run));
    StartGame(run);

    NoBoard board;
    CaptureLoop(&board, run.current);

    FUZZ_CHECK(run.current && TheSession().currentGame);
    const CPosition* root = run.current;
    while (root->lastMove)
        root = root->lastMove->positionBefore;
    FUZZ_CHECK(root == &TheSession().currentGame->startingPosition);

    const std::string logPath = run.logPath;
    const std::string pgnPath = TheSession().pgnPath;
    Shutdown(run);
    ResetSession();
    CheckSessionPgn(pgnPath, CheckSessionLog(ReadWholeFile(logPath)));
    return 0;
}
