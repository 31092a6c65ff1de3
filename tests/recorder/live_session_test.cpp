// Live sessions through the built recorder: the test plays the board on a virtual serial
// line (or lets boardsim play it), and the recorder opens the other end as its serial port.
// Where the machine has no virtual line, these tests are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/board_line.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace {

// The tags of every game the recorder saves (nothing in it changes them), and the empty
// line after them.
const std::string kTags = DefaultTags() + "\r\n";

// Sends message, then waits until the recorder shows its line on the console.
void Play(BoardLine& line, LiveRecorder& recorder, const std::string& message,
          const std::string& shown) {
    line.Send(message);
    ASSERT_TRUE(recorder.WaitForOutput(shown)) << "waiting for " << shown << ", console:\n"
                                               << recorder.Out() << recorder.Err();
}

std::string Concatenated(const std::vector<RecordedChunk>& records) {
    std::string all;
    for (const RecordedChunk& record : records)
        all += record.data;
    return all;
}

// The record file holds exactly sent, chunk by chunk, at times that never go back.
void ExpectRecordOf(const std::string& file, const std::string& sent) {
    bool whole = false;
    std::vector<RecordedChunk> records = ReadRecords(file, &whole);
    EXPECT_TRUE(whole) << "the record file ends inside a record";
    EXPECT_EQ(Concatenated(records), sent);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_LE(records[i - 1].elapsed, records[i].elapsed) << "record " << i;
    }
}

class LiveSession : public NeedsVirtualLine<> {};

}  // namespace

// The recorder answers the board's first time message and every 0xFF with one 0x99, and
// sends nothing else; the line echoes nothing of what the board sends.
TEST_F(LiveSession, AnswersOnlyTheFirstTimeMessageAndFF) {
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    line.Send(kFirstTime);
    EXPECT_EQ(line.Receive(1), "\x99");

    Play(line, recorder, MoveMessage("e2e4"), "1. e4\n");
    Play(line, recorder, "\xFF" + MoveMessage("e7e5"), "1... e5\n");
    EXPECT_EQ(line.Received(), "\x99");
    // Time messages after the first, and take-backs (which begin with 0x99): not answered.
    line.Send(TimeMessage({0, 0x10, 0, 0, 0x10, 0, 0, 0}));
    Play(line, recorder, TakeBackMessage(), "Take back\n");
    Play(line, recorder, kFirstTime, "New game\n");
    Play(line, recorder, MoveMessage("d2d4"), "1. d4\n");
    EXPECT_EQ(recorder.StopAndWait(), 0);
    EXPECT_EQ(line.Received(), "");  // also what was still on its way when it stopped
}

// Whatever the port's settings were, the recorder sets 2400 baud, 8 data bits, no parity,
// one stop bit, and a raw line; it keeps hardware flow control and the modem lines as they
// were, and holds the port exclusively. The bytes that a terminal treats as control
// characters then reach the game as squares and as payload, and the record, untouched.
TEST_F(LiveSession, SetsARawLineThatCarriesControlBytes) {
    ScratchDir dir;
    BoardLine line(/*cooked=*/true);
    ASSERT_TRUE(line.Ok());
    platform::testkit::VirtualLineSettings before = line.Settings();
    ASSERT_FALSE(before.raw);
    ASSERT_EQ(before.stopBits, 2);
    ASSERT_TRUE(before.hardwareFlowControl && before.hangUpOnClose);
    LiveRecorder recorder(dir, line.Device());
    ASSERT_TRUE(line.WaitForSetup()) << recorder.Out();

    platform::testkit::VirtualLineSettings set = line.Settings();
    EXPECT_EQ(set.baudRate, 2400u);
    EXPECT_EQ(set.byteSize, 8);
    EXPECT_EQ(set.parity, 0);
    EXPECT_EQ(set.stopBits, 0);
    EXPECT_TRUE(set.raw);
    EXPECT_TRUE(set.receiverOn);
    EXPECT_TRUE(set.hardwareFlowControl);
    EXPECT_TRUE(set.hangUpOnClose);

    // Exclusive: a second open is refused, also for a privileged test.
    platform::FileHandle other = platform::OpenSerialPort(line.Device().c_str());
    EXPECT_FALSE(other.IsValid());
    EXPECT_TRUE(platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation) ||
                platform::IsError(platform::LastError(), platform::ErrorKind::kAccessDenied))
        << LastErrorText();
    platform::CloseFile(other);

    // Squares d2 0x13 (XOFF), d1 0x03 (interrupt), e1 0x04 (end of file), b2 0x11 (XON),
    // c2 0x12, f2 0x15, g2 0x16, h2 0x17; control bytes as payload.
    struct Step {
        const char* move;
        std::uint8_t pay1, pay2;
        const char* shown;
    };
    const Step game[] = {
        {"d2d4", 0x03, 0x04, "1. d4\n"},  {"d7d5", 0x11, 0x13, "1... d5\n"},
        {"d1d3", 0x0D, 0x0A, "2. Qd3\n"}, {"e7e5", 0x1A, 0x1C, "2... e5\n"},
        {"e1d1", 0x7F, 0x15, "3. Kd1\n"}, {"e5d4", 0x16, 0x17, "3... exd4\n"},
        {"b2b3", 0x12, 0x0F, "4. b3\n"},  {"c7c6", 0x00, 0xFF, "4... c6\n"},
        {"c2c4", 0x0D, 0x0D, "5. c4\n"},  {"h7h6", 0x0A, 0x0A, "5... h6\n"},
        {"f2f3", 0x08, 0x09, "6. f3\n"},  {"g7g6", 0x1B, 0x5C, "6... g6\n"},
        {"g2g4", 0x11, 0x11, "7. g4\n"},  {"a7a6", 0x13, 0x13, "7... a6\n"},
        {"h2h4", 0x03, 0x03, "8. h4\n"},
    };
    std::string sent = kFirstTime;
    line.Send(kFirstTime);
    EXPECT_EQ(line.Receive(1), "\x99");
    for (const Step& step : game) {
        std::string message = MoveMessage(std::string(step.move), step.pay1, step.pay2);
        sent += message;
        ASSERT_NO_FATAL_FAILURE(Play(line, recorder, message, step.shown));
    }
    std::string console;
    for (const Step& step : game)
        console += step.shown;
    EXPECT_EQ(recorder.Out(), console);
    EXPECT_EQ(line.Received(), "");  // nothing echoed

    std::string log = recorder.File(0, "log");
    EXPECT_NE(log.find("Move : 90 13 33 03 04  =>  D2 D4\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Move : 90 04 03 7F 15  =>  E1 D1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Move : 90 11 21 12 0F  =>  B2 B3\n"), std::string::npos) << log;
    EXPECT_EQ(recorder.StopAndWait(), 0);
    ExpectRecordOf(recorder.File(0, "rec"), sent);
    EXPECT_EQ(recorder.File(0, "pgn"),
              kTags +
                  "1. d4 d5 2. Qd3 e5 3. Kd1 exd4 4. b3 c6 5. c4 h6 6. f3 g6 7. g4 a6 8. h4 "
                  "*\r\n\r\n");
    // The port is free again for the next recorder.
    platform::FileHandle again = platform::OpenSerialPort(line.Device().c_str());
    EXPECT_TRUE(again.IsValid()) << LastErrorText();
    platform::CloseFile(again);
}

// The record file of a live session replays to the same console and the same log, with
// the games that ended in it; a message split between two reads is decoded once.
TEST_F(LiveSession, RecordReplaysToTheSameSession) {
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    std::string sent;
    auto send = [&](const std::string& bytes, const std::string& shown) {
        sent += bytes;
        Play(line, recorder, bytes, shown);
    };
    send(kFirstTime + MoveMessage("e2e4"), "1. e4\n");
    send(MoveMessage("e7e5"), "1... e5\n");
    // The board thinks for a while: the next record's time shows it.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // A move split between two reads: the second part goes once the first is recorded.
    std::string split = MoveMessage("g1f3");
    line.Send(split.substr(0, 2));
    sent += split.substr(0, 2);
    ASSERT_TRUE(WaitFor([&] {
        bool whole = false;
        return Concatenated(ReadRecords(recorder.File(0, "rec"), &whole)) == sent;
    }));
    send(split.substr(2), "2. Nf3\n");
    send(std::string("\x86\x01\x02\x03", 4) + "\x42\x43" + MoveMessage("a7a1"),
         "Invalid Move : 90 60 00\n");
    send(TakeBackMessage(), "Take back\n");
    send(MoveMessage("g1f3") + std::string("\x8F\x10\x11\x12\x13", 5) + MoveMessage("b8c6"),
         "2... Nc6\n");
    send(NewGameMessage(), "New game\n");
    send(MoveMessage("d2d4") + std::string(20, '\x00') + MoveMessage("d7d5"), "1... d5\n");
    EXPECT_EQ(recorder.StopAndWait(), 0);

    std::string record = recorder.File(0, "rec");
    ExpectRecordOf(record, sent);
    bool whole = false;
    std::vector<RecordedChunk> records = ReadRecords(record, &whole);
    // The records before the pause and the one that begins the split move.
    std::string upTo;
    std::size_t beforePause = records.size(), splitStart = records.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
        upTo += records[i].data;
        if (upTo == kFirstTime + MoveMessage("e2e4") + MoveMessage("e7e5")) beforePause = i;
        if (upTo == kFirstTime + MoveMessage("e2e4") + MoveMessage("e7e5") + split.substr(0, 2))
            splitStart = i;
    }
    ASSERT_LT(beforePause, records.size());
    ASSERT_LT(splitStart, records.size()) << "the split is no record boundary";
    EXPECT_GE(records[splitStart].elapsed, records[beforePause].elapsed + 25);

    ScratchDir again;
    WriteBytes(again / "session.rec", record);
    RunResult replay = RunProgram(again, {ChessrecBinary(), again / "session.rec"},
                                  {"CHESSREC_DIR=" + again.Path()});
    EXPECT_EQ(replay.status, 0);
    EXPECT_EQ(replay.out, recorder.Out());
    EXPECT_EQ(ReadBytes(again / "chessrec.000.log"), recorder.File(0, "log"));
    // The replay saves the game that ended; the live session also the one in progress.
    std::string first = ReadBytes(again / "chessrec.000.pgn");
    EXPECT_EQ(first, kTags + "1. e4 e5 2. Nf3 Nc6 *\r\n\r\n");
    EXPECT_EQ(recorder.File(0, "pgn"), first + "\r\n" + kTags + "1. d4 d5 *\r\n\r\n");
}

// A port that hangs up (the board's cable pulled) ends the capture with "Unable to read",
// and the game in progress is saved all the same; standard error tells the session at its
// start and the games saved at its end. A second recorder on the held line is refused.
TEST_F(LiveSession, HangUpEndsTheCaptureAndSavesTheGame) {
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    line.Send(kFirstTime);
    Play(line, recorder, MoveMessage("e2e4"), "1. e4\n");

    ScratchDir other;
    RunResult busy = RunProgram(other, {ChessrecBinary()},
                                {"CHESSREC_DIR=" + other.Path(), "CHESSREC_PORT=" + line.Device()});
    EXPECT_EQ(busy.status, 255);
    EXPECT_EQ(busy.out, "Unable to open COM port\n");
    EXPECT_EQ(busy.err, "chessrec: cannot open " + line.Device() + ": " +
                            ErrorKindText(platform::ErrorKind::kSharingViolation) +
                            " (another program holds it)\n");

    Play(line, recorder, MoveMessage("e7e5") + MoveMessage("g1f3").substr(0, 3), "1... e5\n");
    line.Close();
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_EQ(recorder.Out(), "1. e4\n1... e5\nUnable to read\n");
    EXPECT_EQ(recorder.File(0, "pgn"), kTags + "1. e4 e5 *\r\n\r\n");
    EXPECT_EQ(recorder.Err(), OneGameSessionErr(dir, line.Device()));
    bool whole = false;
    ReadRecords(recorder.File(0, "rec"), &whole);
    EXPECT_TRUE(whole);
}

// A write of the game in progress that fails (here the temporary file it goes through
// cannot be made) is said on standard error before the move is shown, naming the file and
// the reason, once for the whole run of failures; each move tries again, and the write that
// works is said too. A kill then loses none of the moves shown.
TEST_F(LiveSession, AFailingWriteOfTheGameInProgressIsSaidAtOnce) {
    ScratchDir dir;
    const std::string current = dir / "chessrec.000.current.pgn";
    std::filesystem::create_directory(current + ".tmp");
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    line.Send(kFirstTime);
    Play(line, recorder, MoveMessage("e2e4"), "1. e4\n");
    const std::string failing = "chessrec: cannot keep the game in progress in " + current + ": ";
    std::size_t at = recorder.Err().find(failing);
    ASSERT_NE(at, std::string::npos) << recorder.Err();
    Play(line, recorder, MoveMessage("e7e5"), "1... e5\n");
    EXPECT_EQ(recorder.Err().find(failing, at + 1), std::string::npos) << recorder.Err();
    EXPECT_FALSE(Exists(current));

    std::filesystem::remove(current + ".tmp");
    Play(line, recorder, MoveMessage("g1f3"), "2. Nf3\n");
    EXPECT_NE(
        recorder.Err().find("chessrec: the game in progress is kept in " + current + " again\n"),
        std::string::npos)
        << recorder.Err();
    recorder.Kill();
    recorder.Wait();
    EXPECT_EQ(ReadBytes(current), kTags + "1. e4 e5 2. Nf3 *\r\n\r\n");
}

// Without a usable port: "Unable to open COM port" on the console, on standard error the
// device, what failed and the system's reason, and in the session log one system error
// report naming the failed call. A plain file is no serial line: the system's own error.
// A device whose name ends in ':', as Windows' COM1:, is quoted in the line, but not in the
// log.
TEST(LivePort, WithoutAPortTheRecorderFails) {
    ScratchDir dir;
    struct Case {
        std::string device;
        std::string said;  // the start of the line on standard error
        std::string call;
    };
    std::string missing = dir / "no-such-port";
    std::string plain = dir / "plain-file";
    WriteBytes(plain, "");
    const Case cases[] = {
        {missing,
         "chessrec: cannot open " + missing + ": " + ErrorKindText(platform::ErrorKind::kNotFound) +
             " (",
         "CreateFile(\"" + missing + "\")"},
        {plain, "chessrec: cannot set up " + plain + " (GetCommState): ", "GetCommState()"},
        {missing + ":",
         "chessrec: cannot open \"" + missing + ":\": ", "CreateFile(\"" + missing + ":\")"},
    };
    for (const Case& c : cases) {
        ScratchDir session;
        RunResult run = RunProgram(session, {ChessrecBinary()},
                                   {"CHESSREC_DIR=" + session.Path(), "CHESSREC_PORT=" + c.device});
        EXPECT_EQ(run.status, 255) << c.device;
        EXPECT_EQ(run.out, "Unable to open COM port\n");
        EXPECT_EQ(run.err.rfind(c.said, 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        std::string log = ReadBytes(session / "chessrec.000.log");
        std::size_t hex = log.rfind("(0x");
        ASSERT_NE(hex, std::string::npos) << log;
        platform::ErrorCode code = c.device == missing
                                       ? platform::ErrorOf(platform::ErrorKind::kNotFound)
                                       : std::strtoul(log.c_str() + hex + 3, nullptr, 16);
        EXPECT_NE(code, 0u) << log;
        EXPECT_EQ(log, SystemErrorLine(c.call, code));
        EXPECT_FALSE(Exists(session / "chessrec.000.pgn"));
    }
}

// A recorder waiting for the board sleeps on the port: no processor time, no wake-ups.
TEST_F(LiveSession, IdleRecorderSleepsOnThePort) {
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    ASSERT_TRUE(line.WaitForSetup());
    // Once set up, it goes to sleep.
    platform::testkit::ProcessUse before;
    ASSERT_TRUE(WaitFor([&] { return recorder.GetUse(&before) && before.asleep; }))
        << "the recorder never sleeps";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the span measured
    platform::testkit::ProcessUse after;
    ASSERT_TRUE(recorder.GetUse(&after));
    EXPECT_LE(after.cpuMicroseconds - before.cpuMicroseconds, 10000u);
    EXPECT_LE(after.wakeUps - before.wakeUps, 2u);
    // and it still wakes for the board
    line.Send(kFirstTime);
    Play(line, recorder, MoveMessage("e2e4"), "1. e4\n");
    EXPECT_EQ(recorder.StopAndWait(), 0);
}

// Starts boardsim live on script; answers its device, or "" when it prints none.
std::string StartBoardsim(Child& board) {
    if (!board.WaitForOutput("\n")) return "";
    std::string first = board.Out().substr(0, board.Out().find('\n'));
    return first.rfind("device ", 0) == 0 ? first.substr(7) : "";
}

// boardsim plays a whole game on its virtual line at the line's pace; the recorder
// records it and answers it. Held open, the line hangs up when boardsim is stopped, and the
// recorder saves the game in progress.
TEST_F(LiveSession, BoardsimPlaysTheOperaGame) {
    ScratchDir dir;
    std::string script = ReadBytes(SamplesDir() + "/opera_game.txt");
    ASSERT_FALSE(script.empty());
    WriteBytes(dir / "opera.txt", script + "x:FF  # asks for an answer once all is sent\n");
    Child board({BoardsimBinary(), "live", dir / "opera.txt", "--gap", "0", "--hold"}, {},
                dir / "board.txt", dir / "board-err.txt");
    std::string device = StartBoardsim(board);
    ASSERT_NE(device, "") << board.Out() << board.Err();
    LiveRecorder recorder(dir, device);
    // The answer to the last byte: the recorder has taken everything.
    ASSERT_TRUE(board.WaitForOutput("received 99\nreceived 99\n")) << board.Out();
    EXPECT_EQ(recorder.Out().find("Unable to read"), std::string::npos);
    board.Stop();
    EXPECT_EQ(board.Wait(), 0) << board.Err();
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_EQ(board.Out(), "device " + device + "\nreceived 99\nreceived 99\n");

    // The same game as the replay of the sample that boardsim recorded from this script.
    ScratchDir replayDir;
    RunResult sample = RunProgram(replayDir, {ChessrecBinary(), SamplesDir() + "/opera_game.rec"},
                                  {"CHESSREC_DIR=" + replayDir.Path()});
    ASSERT_EQ(sample.status, 0);
    EXPECT_EQ(recorder.Out(), sample.out + "Unable to read\n");
    std::string pgn = recorder.File(0, "pgn");
    std::string opera = ReadBytes(replayDir / "chessrec.000.pgn");
    ASSERT_FALSE(opera.empty());
    EXPECT_EQ(pgn, opera + "\r\n" + kTags + " *\r\n\r\n");

    // Its record replays to the same log, but for what the port itself wrote. The bytes
    // came at a 2400-baud line's pace: 10 bits, over 4 ms, a byte.
    std::string record = recorder.File(0, "rec");
    bool whole = false;
    std::string sampleBytes =
        Concatenated(ReadRecords(ReadBytes(SamplesDir() + "/opera_game.rec"), &whole));
    std::vector<RecordedChunk> records = ReadRecords(record, &whole);
    EXPECT_EQ(Concatenated(records), sampleBytes + "\xFF");
    ASSERT_FALSE(records.empty());
    EXPECT_GE(records.back().elapsed - records.front().elapsed,
              (sampleBytes.size() - kFirstTime.size()) * 4);
    ScratchDir again;
    WriteBytes(again / "live.rec", record);
    RunResult replay =
        RunProgram(again, {ChessrecBinary(), again / "live.rec"}, {"CHESSREC_DIR=" + again.Path()});
    EXPECT_EQ(replay.out + "Unable to read\n", recorder.Out());
    std::string log = recorder.File(0, "log");
    std::size_t port = log.find("GetOverlappedResultR : ");
    if (port != std::string::npos) log.erase(port, log.find('\n', port) + 1 - port);
    EXPECT_EQ(ReadBytes(again / "chessrec.000.log"), log);
}

// Without --hold, boardsim hangs up once its script is played and the answers are in.
TEST_F(LiveSession, BoardsimHangsUpAfterItsScript) {
    ScratchDir dir;
    WriteBytes(dir / "short.txt", "e2e4 e7e5\n");
    Child board({BoardsimBinary(), "live", dir / "short.txt", "--gap", "20"}, {}, dir / "board.txt",
                dir / "board-err.txt");
    std::string device = StartBoardsim(board);
    ASSERT_NE(device, "") << board.Out() << board.Err();
    LiveRecorder recorder(dir, device);
    EXPECT_EQ(board.Wait(), 0) << board.Err();
    EXPECT_EQ(board.Out(), "device " + device + "\nreceived 99\n");
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_EQ(recorder.Out(), "1. e4\n1... e5\nUnable to read\n");
    EXPECT_EQ(recorder.File(0, "pgn"), kTags + "1. e4 e5 *\r\n\r\n");
}
