// The board's byte stream, fed to the decoder the way the capture loop feeds it: cut into
// chunks, each placed behind the bytes carried over from the chunk before in a buffer of
// 8192 bytes, and decoded into moves, take-backs and new games (each new game saving the
// game before it into a PGN file of the scratch folder) with their log lines.
//
// Input: a flags byte, a count n (its low four bits) and n chunk-size bytes, then the
// stream.
//   flags bit 0: live mode: a fake board link takes the decoder's answers
//   flags bit 1: the board's greeting is still awaited (first time message pending)
//   flags bit 2: no session log
// A chunk-size byte b stands for b bytes when b < 128, else (b - 128) * 64 (up to 8128).
// The sizes are used in turn, over and over; like a read of the capture loop, a chunk
// never asks for more than the room behind the carried bytes. Without sizes, the chunks
// are as large as that room.
//
// Besides what the sanitizers catch, each input must keep these properties:
//   - Decode leaves at most 8 bytes (one short of the longest message) and never more
//     than it was given;
//   - the current position belongs to the session's current game;
//   - the decoder answers the board only in live mode, with single bytes 0x99;
//   - the log keeps its line discipline, and the PGN file holds one game, with the tags of
//     a new game, for each new game in the log (CheckSessionLog, CheckSessionPgn);
//   - in live mode the game in progress on disk, once written, is the current game's PGN;
//     a replay keeps none;
//   - the cut of the stream changes nothing: the log, the PGN file and the answers to
//     the board are the same as when the stream comes in chunks as large as the room
//     allows.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "board/decoder.h"
#include "board/iio.h"
#include "board/protocol.h"
#include "game/partie.h"
#include "pgn/writer.h"
#include "recorder/record_format.h"
#include "recorder/startup.h"
#include "session/log.h"
#include "session/session.h"
#include "support.h"

namespace {

// The board's end of the link in live mode: counts the recorder's answers. Reads are
// never asked of it (the stream comes from the fuzzer).
class FakeBoard : public IIOObject {
public:
    int Write(const void* bytes, std::uint32_t count, std::uint32_t* written) override {
        FUZZ_CHECK(count == 1 && *static_cast<const std::uint8_t*>(bytes) == kAnswer);
        ++answers;
        *written = count;
        return 1;
    }
    ReadStart BeginRead(void*, std::uint32_t, std::uint32_t*) override {
        PropertyFailed("the decoder reads from the board");
    }
    int CompleteRead() override { PropertyFailed("the decoder reads from the board"); }
    int BlockingRead(void*, std::uint32_t, std::uint32_t*) override {
        PropertyFailed("the decoder reads from the board");
    }

    int answers = 0;
};

struct Outcome {
    std::string log;
    std::string pgn;
    int answers = 0;
};

bool InGame(const CPosition* position, const CPartie* game) {
    while (position->lastMove)
        position = position->lastMove->positionBefore;
    return position == &game->startingPosition;
}

// Feeds stream in chunks of the given sizes (none: as large as the room allows) with the
// session set up as flags say; answers what the session wrote.
Outcome Feed(std::uint8_t flags, const std::vector<std::uint32_t>& sizes,
             const std::uint8_t* stream, std::size_t size, const char* name) {
    const std::string stem = ScratchFile((std::string(name) + ".").c_str());
    for (const char* kind : {"pgn", "pgn.bak", "rec", "current.pgn"})
        RemoveFile(stem + "000." + kind);
    const bool live = flags & 1;
    const bool withLog = !(flags & 4);
    ResetSession();
    RecorderRun run;
    FUZZ_CHECK(!OpenSessionFiles(run, stem.c_str()));
    FUZZ_CHECK(run.number == 0);
    if (!withLog) CloseLog();
    TheSession().firstTimePending = (flags & 2) ? 1 : 0;
    // Live: the game in progress is kept on disk after every change.
    if (live) CreateRecordFile(run);
    StartGame(run);
    const std::string inProgressPath = run.gameInProgressPath;
    const std::string logPath = run.logPath;
    const std::string pgnPath = TheSession().pgnPath;

    FakeBoard board;
    std::uint8_t buffer[kCaptureBufferSize];
    std::uint32_t carried = 0;
    std::size_t at = 0;
    std::size_t turn = 0;
    while (at < size) {
        std::uint32_t room = kCaptureBufferSize - carried;
        std::uint32_t ask = sizes.empty() ? room : std::min(room, sizes[turn++ % sizes.size()]);
        std::uint32_t count = static_cast<std::uint32_t>(std::min<std::size_t>(ask, size - at));
        std::memcpy(buffer + carried, stream + at, count);
        at += count;
        std::uint32_t given = carried + count;
        carried = Decode(run.current, live ? &board : nullptr, buffer, given);
        FUZZ_CHECK(carried < kLongestMessage && carried <= given);
        FUZZ_CHECK(run.current && InGame(run.current, TheSession().currentGame));
    }
    // What is carried at the end never becomes a message: the stream stops inside it.

    // The game in progress on disk is the current game, once it has changed at all.
    std::string current = GameText(*TheSession().currentGame);
    std::string kept = ReadWholeFile(inProgressPath);
    FUZZ_CHECK(kept.empty() || kept == current);
    FUZZ_CHECK(live || kept.empty());
    ResetSession();
    FUZZ_CHECK(live || board.answers == 0);
    Outcome outcome;
    outcome.log = withLog ? ReadWholeFile(logPath) : "";
    outcome.pgn = ReadWholeFile(pgnPath);
    if (withLog) CheckSessionPgn(pgnPath, CheckSessionLog(outcome.log));
    outcome.answers = board.answers;
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceConsole();
    ScratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    std::uint8_t flags = in.Byte();
    int count = in.Byte() & 15;
    std::vector<std::uint32_t> sizes;
    for (int i = 0; i < count; ++i) {
        std::uint8_t b = in.Byte();
        std::uint32_t chunk = b < 128 ? b : (b - 128u) * 64u;
        sizes.push_back(chunk);
    }
    // Chunks of 0 bytes only would never get through the stream.
    if (std::all_of(sizes.begin(), sizes.end(), [](std::uint32_t s) { return s == 0; }))
        sizes.clear();

    Outcome cut = Feed(flags, sizes, in.Rest(), in.Left(), "cut");
    Outcome whole = Feed(flags, {}, in.Rest(), in.Left(), "whole");
    FUZZ_CHECK(cut.log == whole.log);
    FUZZ_CHECK(cut.pgn == whole.pgn);
    FUZZ_CHECK(cut.answers == whole.answers);
    return 0;
}
