// The decoder and the board event handlers, in process: bytes in, console lines, log text,
// game and PGN file out.
#include "board/decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/protocol.h"
#include "game/partie.h"
#include "pgn/game_in_progress.h"
#include "session/log.h"
#include "session/session.h"
#include "support/files.h"

namespace {

// The board's end of the link: keeps what the recorder sends.
class FakeBoard : public IIOObject {
public:
    int Write(const void* bytes, std::uint32_t count, std::uint32_t* written) override {
        sent.append(static_cast<const char*>(bytes), count);
        *written = count;
        return 1;
    }
    ReadStart BeginRead(void*, std::uint32_t, std::uint32_t*) override { return kReadFailed; }
    int CompleteRead() override { return 0; }
    int BlockingRead(void*, std::uint32_t, std::uint32_t*) override { return 0; }
    std::string sent;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values)
        bytes += static_cast<char>(v);
    return bytes;
}

const std::string kNewGame = NewGameMessage();
const std::string kTakeBack = TakeBackMessage();

class DecoderTest : public testing::Test {
protected:
    // A session with its log and its PGN path, and a game: no more than the decoder uses.
    void SetUp() override {
        ResetSession();
        ASSERT_TRUE(OpenLog(LogPath().c_str()));
        std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s",
                      (dir / "session.pgn").c_str());
        StartNewGame(current);
        TheSession().firstTimePending = 0;  // most tests start after the board's greeting
    }
    void TearDown() override { ResetSession(); }

    std::string LogPath() const { return dir / "session.log"; }
    std::string Log() const { return ReadBytes(LogPath()); }
    std::string PgnPath() const { return TheSession().pgnPath; }
    std::string Pgn() const { return ReadBytes(PgnPath()); }

    // Decodes bytes behind the carried ones, as the capture loop does; answers the
    // console output.
    std::string Feed(const std::string& bytes, IIOObject* link = nullptr) {
        buffer.resize(carried);
        buffer.insert(buffer.end(), bytes.begin(), bytes.end());
        testing::internal::CaptureStdout();
        carried = Decode(current, link, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        return testing::internal::GetCapturedStdout();
    }

    ScratchDir dir;
    CPosition* current = nullptr;
    std::vector<std::uint8_t> buffer;
    std::uint32_t carried = 0;
};

TEST_F(DecoderTest, AMoveSplitAcrossChunksIsHandledOnce) {
    EXPECT_EQ(Feed(Bytes({0x90, 0x14})), "");
    EXPECT_EQ(carried, 2u);
    EXPECT_EQ(buffer[0], 0x90);
    EXPECT_EQ(buffer[1], 0x14);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Feed(Bytes({0x34, 0, 0})), "1. e4\n");
    EXPECT_EQ(carried, 0u);
    EXPECT_EQ(Log(), "Move : 90 14 34 00 00  =>  E2 E4\nMove OK : 1. e4\n");
}

TEST_F(DecoderTest, TheFirstTimeMessageIsAnsweredNotLogged) {
    TheSession().firstTimePending = 1;
    FakeBoard board;
    EXPECT_EQ(Feed(kNewGame, &board), "");
    EXPECT_EQ(board.sent, "\x99");
    EXPECT_EQ(Log(), "00 00 00 00 00 00 00 00 ");
    EXPECT_EQ(TheSession().firstTimePending, 0);
    // The same nine bytes again are a time message: a new game.
    EXPECT_EQ(Feed(kNewGame, &board), "New game\n");
    EXPECT_EQ(board.sent, "\x99");
    EXPECT_EQ(Log(), "00 00 00 00 00 00 00 00 \nTime : 93 00 00 00 00 00 00 00 00 \nNew Game\n");
}

TEST_F(DecoderTest, ARawFFClearsTheGreetingSoTheFirst93IsATimeMessage) {
    TheSession().firstTimePending = 1;
    FakeBoard board;
    std::string stream = "\xFF" + kNewGame;
    EXPECT_EQ(Feed(stream, &board), "New game\n");
    EXPECT_EQ(board.sent, "\x99");
    // A replay frames the same way, with nothing to answer.
    TheSession().firstTimePending = 1;
    EXPECT_EQ(Feed(stream), "New game\n");
}

TEST_F(DecoderTest, UnknownBytesFillLinesOfSixteenAndLabelledMessagesStandAlone) {
    std::string stream(20, '\0');
    stream += Bytes({0x86, 0x01, 0x02, 0x03, 0x8F, 0x90, 0x90, 0x90, 0x90, 0x91});
    EXPECT_EQ(Feed(stream), "");
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen += "00 ";
    EXPECT_EQ(Log(), sixteen + "\n00 00 00 00 \n0x86 : 86 01 02 03 \n0x8F : 8F 90 90 90 90 \n91 ");
}

TEST_F(DecoderTest, MovesPlayedRefusedAndPromoted) {
    EXPECT_EQ(Feed(MoveMessage(0x18, 0x34)), "Invalid Move : 90 18 34\n");  // file nibble 8
    EXPECT_EQ(Log(), "Move : 90 18 34 00 00  =>  I2 E4\nInvalid Move...\n");
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x44)), "Invalid Move : 90 14 44\n");  // e2-e5
    // A nibble above 7 names no square, also where rank * 8 + file would land on one: P1-H4
    // is not h2-h4, G1-N2 not g1-f3, and a rank nibble above 7 is no square either.
    EXPECT_EQ(Feed(MoveMessage(0x0F, 0x37)), "Invalid Move : 90 0F 37\n");
    EXPECT_EQ(Feed(MoveMessage(0x06, 0x1D, kMoveMessage9A)), "Invalid Move : 9A 06 1D\n");
    EXPECT_EQ(Feed(MoveMessage(0x94, 0x34)), "Invalid Move : 90 94 34\n");
    EXPECT_NE(Log().find("Move : 90 0F 37 00 00  =>  P1 H4\nInvalid Move...\n"), std::string::npos);
    std::string out;
    // 1. a4 b5 2. axb5 a6 3. bxa6 Bb7 4. axb7 Nc6 5. bxa8=Q, and a 0x9A move.
    for (auto [from, to] : {std::pair{0x10, 0x30},
                            {0x61, 0x41},
                            {0x30, 0x41},
                            {0x60, 0x50},
                            {0x41, 0x50},
                            {0x72, 0x61},
                            {0x50, 0x61},
                            {0x71, 0x52}}) {
        out += Feed(MoveMessage(from, to));
    }
    out += Feed(MoveMessage(0x61, 0x70, kMoveMessage9A));
    EXPECT_EQ(out,
              "1. a4\n1... b5\n2. axb5\n2... a6\n3. bxa6\n3... Bb7\n4. axb7\n4... Nc6\n"
              "5. bxa8=Q\n");
    EXPECT_EQ(current->board[56], kQueen);
}

TEST_F(DecoderTest, TakeBacks) {
    EXPECT_EQ(Feed(kTakeBack), "");  // at the start: logged, nothing else
    EXPECT_EQ(Log(), "0x99 : 99 00 00 00 00 \n");
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x34)), "1. e4\n");
    EXPECT_EQ(Feed(kTakeBack), "Take back\n");
    EXPECT_EQ(current, &TheSession().currentGame->startingPosition);
    EXPECT_EQ(Feed(MoveMessage(0x13, 0x33)), "1. d4\n");  // replaces e4
    EXPECT_EQ(Feed(kNewGame), "New game\n");
    EXPECT_NE(Pgn().find("\r\n1. d4 *\r\n"), std::string::npos) << Pgn();
    EXPECT_EQ(Pgn().find("e4"), std::string::npos);
    EXPECT_NE(Log().find("0x99 : 99 00 00 00 00 Take back\n"), std::string::npos);

    // A move taken back and not replaced stays in the game that is saved.
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x34)), "1. e4\n");
    EXPECT_EQ(Feed(kTakeBack), "Take back\n");
    EXPECT_EQ(Feed(kNewGame), "New game\n");
    EXPECT_NE(Pgn().find("\r\n1. e4 *\r\n"), std::string::npos) << Pgn();
}

TEST_F(DecoderTest, TimeMessages) {
    EXPECT_EQ(Feed(TimeMessage({0, 0x10, 0, 0, 0x10, 0, 0, 0})), "");  // a running clock
    EXPECT_EQ(Log(), "Time : 93 00 10 00 00 10 00 00 00 \n");
    EXPECT_FALSE(Exists(PgnPath()));
    EXPECT_EQ(Feed(kNewGame), "New game\n");  // a game without moves is saved too
    EXPECT_NE(Pgn().find("[Result \"*\"]\r\n\r\n *\r\n\r\n"), std::string::npos) << Pgn();
    // The saved game went with its file object; a fresh one is current.
    ASSERT_NE(TheSession().currentGame, nullptr);
    EXPECT_EQ(current, &TheSession().currentGame->startingPosition);
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x34)), "1. e4\n");
}

TEST_F(DecoderTest, AFailedSaveAtANewGameReportsAndGoesOn) {
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s",
                  (dir / "no-such-folder/games.pgn").c_str());
    Feed(MoveMessage(0x14, 0x34));
    testing::internal::CaptureStderr();
    EXPECT_EQ(Feed(kNewGame), "New game\n");
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("Unable to save game in '"), std::string::npos) << errors;
    // The failed game was freed (the sanitizer build checks), a new one is current.
    EXPECT_EQ(current, &TheSession().currentGame->startingPosition);
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x34)), "1. e4\n");
}

TEST_F(DecoderTest, AFailingLogDoesNotStopTheSession) {
    // Every write to the log fails, as on a full disk; moves and games go on.
    static platform::FileHandle log;
    log = LogFile();
    platform::SetFaultHook(
        [](platform::FileOp op, platform::FileHandle file, const char*, void*) {
            return op == platform::FileOp::kWrite && file.value == log.value ? 28u : 0u;
        },
        nullptr);
    std::string out = Feed(MoveMessage(0x14, 0x34));
    out += Feed(kNewGame);
    out += Feed(MoveMessage(0x13, 0x33));
    platform::SetFaultHook(nullptr, nullptr);
    EXPECT_EQ(out, "1. e4\nNew game\n1. d4\n");
    EXPECT_EQ(Log(), "");
    EXPECT_NE(Pgn().find("1. e4 *"), std::string::npos);
}

TEST_F(DecoderTest, NoCurrentPositionLogsTheMoveOnly) {
    current = nullptr;
    EXPECT_EQ(Feed(MoveMessage(0x14, 0x34) + Bytes({0x86, 1, 2, 3})), "");
    EXPECT_EQ(Log(), "Move : 90 14 34 00 00  =>  E2 E4\n0x86 : 86 01 02 03 \n");
}

}  // namespace
