// The recorder as a user runs it: replays of record files, through the built program, in
// a scratch folder of its own (CHESSREC_DIR).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "platform/platform.h"
#include "recorder/record_format.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"
#include "support/scripts.h"

namespace {

// The header of a record whose data is count bytes, without the data.
std::string Header(std::uint32_t count) {
    return RecordBytes(std::string(count, '\0')).substr(0, kRecordHeaderSize);
}

const std::string kGreeting = NewGameMessage();

class Replay : public testing::Test {
protected:
    // Runs chessrec with args, its session files in session; the console and errors are
    // kept apart, in outputs.
    RunResult Chessrec(const std::vector<std::string>& args) {
        std::vector<std::string> argv{ChessrecBinary()};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(outputs, argv, {"CHESSREC_DIR=" + session.Path()});
    }
    RunResult ReplayBytes(const std::string& bytes) {
        WriteBytes(outputs / "input.rec", bytes);
        return Chessrec({outputs / "input.rec"});
    }
    std::string SessionFile(const char* name) const { return ReadBytes(session / name); }
    std::vector<std::string> SessionFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(session.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir session;
    ScratchDir outputs;
};

// Standard output carries the console lines alone; standard error says where the session's
// files went and, at the end, what was saved.
TEST_F(Replay, TheSampleGivesItsGoldenConsoleLogAndPgn) {
    const std::string sample = SamplesDir() + "/opera_game.rec";
    RunResult run = Chessrec({sample});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ReadBytes(SamplesDir() + "/opera_game.out"));
    EXPECT_EQ(run.err, "chessrec: session 000 in " + session.Path() +
                           ": chessrec.000.pgn and .log; replay of " + sample +
                           "\nchessrec: 1 game saved in " + (session / "chessrec.000.pgn") + "\n");
    EXPECT_EQ(SessionFile("chessrec.000.log"), ReadBytes(SamplesDir() + "/opera_game.log"));
    EXPECT_EQ(SessionFile("chessrec.000.pgn"), ReadBytes(SamplesDir() + "/opera_game.pgn"));
    // A replay records nothing.
    EXPECT_EQ(SessionFiles(), (std::vector<std::string>{"chessrec.000.log", "chessrec.000.pgn"}));
}

TEST_F(Replay, ChunkingDoesNotChangeWhatIsPrintedLoggedOrSaved) {
    for (unsigned seed : {1u, 2u, 3u}) {
        WriteBytes(outputs / "script.txt", NoisyScript(seed, 12));
        std::vector<RunResult> runs;
        std::vector<std::string> logs;
        std::vector<std::string> pgns;
        for (const std::vector<std::string>& cut : {std::vector<std::string>{"--chunk", "8192"},
                                                    {"--seed", std::to_string(seed)},
                                                    {"--chunk", "1"},
                                                    {}}) {
            std::vector<std::string> argv{BoardsimBinary(), "record", outputs / "script.txt",
                                          outputs / "session.rec"};
            argv.insert(argv.end(), cut.begin(), cut.end());
            ASSERT_EQ(RunProgram(outputs, argv).status, 0);
            runs.push_back(Chessrec({outputs / "session.rec"}));
            logs.push_back(SessionFile("chessrec.000.log"));
            pgns.push_back(SessionFile("chessrec.000.pgn"));
            std::filesystem::remove(session / "chessrec.000.pgn");
        }
        for (std::size_t i = 1; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].status, 0);
            EXPECT_EQ(runs[i].out, runs[0].out) << "seed " << seed << ", cut " << i;
            EXPECT_EQ(logs[i], logs[0]);
            EXPECT_EQ(pgns[i], pgns[0]);
        }
        EXPECT_NE(runs[0].out.find("Invalid Move : 90 14 44\n"), std::string::npos);
        EXPECT_NE(runs[0].out.find("Take back\n"), std::string::npos);
        EXPECT_NE(logs[0].find("0x8F : 8F 01 02 03 04 \n"), std::string::npos);
        std::size_t games = 0;
        for (std::size_t at = 0; (at = pgns[0].find("[Event ", at)) != std::string::npos; ++at) {
            ++games;
        }
        EXPECT_EQ(games, 12u);
    }
}

TEST_F(Replay, RecordFileBoundaries) {
    // An empty file replays nothing, and says so.
    RunResult run = ReplayBytes("");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.ends_with("\nchessrec: no game saved\n")) << run.err;

    run = ReplayBytes(std::string("\x10\0\0\0", 4));
    EXPECT_EQ(run.out, "Incomplete record : no length\n");

    run = ReplayBytes(RecordBytes(kGreeting) + Header(8193) + std::string(8193, '\0'));
    EXPECT_EQ(run.out, "Read buffer to small : 8192 vs 8193\n");

    // Exactly 8192 with nothing carried is read and decoded.
    run = ReplayBytes(RecordBytes(kGreeting) + RecordBytes(std::string(8191, '\x41') + "\x90"));
    EXPECT_EQ(run.out, "");
    std::string log = SessionFile("chessrec.000.log");
    EXPECT_EQ(log.size(), 8 * 3 + 8191 * 3 + (8 + 8191) / 16);

    // The records before a short one are decoded.
    run = ReplayBytes(RecordBytes(kGreeting) + RecordBytes(MoveMessage(0x14, 0x34)) + Header(5) +
                      "\x90\x64");
    EXPECT_EQ(run.out, "1. e4\nIncomplete record : partial data\n");

    // An empty record decodes the carried bytes alone; a message split across records is
    // handled once.
    run =
        ReplayBytes(RecordBytes(kGreeting) + RecordBytes("\x90\x14") + RecordBytes("") +
                    RecordBytes(std::string("\x34\0\0", 3)) + RecordBytes(MoveMessage(0x64, 0x44)));
    EXPECT_EQ(run.out, "1. e4\n1... e5\n");

    // A foreign record that fits 8192 but not the room behind the carried bytes.
    run = ReplayBytes(RecordBytes(kGreeting) + RecordBytes("\x90\x14") +
                      RecordBytes(std::string(8191, '\0')));
    EXPECT_EQ(run.out, "Read buffer to small : 8190 vs 8191\n");
}

TEST_F(Replay, TheGameInProgressAtTheEndIsNotSaved) {
    RunResult run =
        ReplayBytes(RecordBytes(kGreeting) + RecordBytes(MoveMessage(0x14, 0x34)) +
                    RecordBytes(NewGameMessage()) + RecordBytes(MoveMessage(0x13, 0x33)));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1. e4\nNew game\n1. d4\n");
    EXPECT_TRUE(run.err.ends_with("\nchessrec: 1 game saved in " + (session / "chessrec.000.pgn") +
                                  "; a replay does not save the game in progress at its end\n"))
        << run.err;
    std::string pgn = SessionFile("chessrec.000.pgn");
    EXPECT_NE(pgn.find("1. e4 *"), std::string::npos);
    EXPECT_EQ(pgn.find("d4"), std::string::npos);
}

TEST_F(Replay, CommandLine) {
    RunResult run = Chessrec({"one", "two"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "Usage : " + ChessrecBinary() + " [Recorded file]\n");
    EXPECT_TRUE(SessionFiles().empty());

    run = Chessrec({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage : ", 0), 0u);
    EXPECT_NE(run.out.find("CHESSREC_PORT"), std::string::npos);
    EXPECT_TRUE(SessionFiles().empty());

    // A record file that cannot be opened (missing, or a folder) is named with the system's
    // reason on standard error, and logged.
    const std::string notFound = ErrorKindText(platform::ErrorKind::kNotFound);
    std::string missing = outputs / "missing.rec";
    run = Chessrec({missing});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "chessrec: cannot open record file " + missing + ": " + notFound + "\n");
    EXPECT_EQ(SessionFile("chessrec.000.log"),
              SystemErrorLine("CreateFile(\"" + missing + "\")",
                              platform::ErrorOf(platform::ErrorKind::kNotFound)));
    run = Chessrec({outputs.Path()});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err.rfind("chessrec: cannot open record file " + outputs.Path() + ": ", 0), 0u)
        << run.err;

    // A folder where the session cannot keep its log: said at once, before anything runs.
    std::string folder = outputs / "no-such-folder";
    run = RunProgram(outputs, {ChessrecBinary(), SamplesDir() + "/opera_game.rec"},
                     {"CHESSREC_DIR=" + folder});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, "");
    const std::string log = InFolder(folder, "chessrec.000.log");
    EXPECT_EQ(run.err, "chessrec: cannot create " + log + ": " + CreateFailureText(log) +
                           " (does the folder exist?)\n");

    // A variable set but empty is a mistake, not a wish for the default.
    const std::vector<std::vector<std::string>> empties = {
        {"CHESSREC_DIR="}, {"CHESSREC_DIR=" + session.Path(), "CHESSREC_PORT="}};
    for (const std::vector<std::string>& env : empties) {
        run = RunProgram(outputs, {ChessrecBinary()}, env);
        EXPECT_EQ(run.status, 255);
        const std::string variable = env.back().substr(0, env.back().size() - 1);
        EXPECT_EQ(run.err.rfind("chessrec: " + variable + " is set but empty", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);
    }
    EXPECT_EQ(SessionFiles(), (std::vector<std::string>{"chessrec.000.log"}));
}

// A replay killed in the middle of its first save left its text behind, and a live session
// killed while it copied its PGN file to the backup left the copy: the next start removes
// both, their bytes being in the game in progress and the PGN file.
TEST_F(Replay, TheNextStartRemovesWhatCutSavesLeft) {
    const std::string game = DefaultTags() + "\r\n1. e4 *\r\n\r\n";
    WriteBytes(session / "chessrec.000.pgn", game);
    WriteBytes(session / "chessrec.000.pgn.bak.tmp", game.substr(0, 50));
    WriteBytes(session / "chessrec.001.current.pgn", game);
    WriteBytes(session / "chessrec.001.pgn.tmp", game.substr(0, 70));
    RunResult run = Chessrec({SamplesDir() + "/opera_game.rec"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(SessionFiles(), (std::vector<std::string>{"chessrec.000.log", "chessrec.000.pgn",
                                                        "chessrec.001.log", "chessrec.001.pgn",
                                                        "chessrec.002.log", "chessrec.002.pgn"}));
    EXPECT_EQ(SessionFile("chessrec.001.pgn"), game);
}

// Without CHESSREC_DIR the files lie beside the program, named after it, when its folder can
// be written (the log can be created there); else in the current folder, as for a recorder
// installed in a system folder. The start-up line names the folder either way.
TEST_F(Replay, TheSessionFolder) {
    const std::string sample = SamplesDir() + "/opera_game.rec";
    ScratchDir installed;
    std::filesystem::copy_file(ChessrecBinary(), installed / "chess.exe");
    std::filesystem::permissions(installed / "chess.exe", std::filesystem::perms::owner_all);
    RunResult run = RunProgram(outputs, {installed / "chess.exe", sample});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.rfind("chessrec: session 000 in " + installed.Path() + ": chess.000.pgn", 0),
              0u)
        << run.err;
    EXPECT_TRUE(Exists(installed / "chess.000.log"));
    EXPECT_TRUE(Exists(installed / "chess.000.pgn"));

    // A folder where no log can be made: permissions do not stop every user (root), but a
    // folder in the log's place stops anyone. The program runs from the current folder.
    ScratchDir locked;
    std::filesystem::copy_file(ChessrecBinary(), locked / "chess.exe");
    std::filesystem::permissions(locked / "chess.exe", std::filesystem::perms::owner_all);
    std::filesystem::create_directory(locked / "chess.000.log");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(session.Path());
    run = RunProgram(outputs, {locked / "chess.exe", sample});
    std::filesystem::current_path(before);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ReadBytes(SamplesDir() + "/opera_game.out"));
    EXPECT_EQ(run.err.rfind("chessrec: session 000 in " + session.Path() + ":", 0), 0u) << run.err;
    EXPECT_EQ(SessionFile("chess.000.pgn"), ReadBytes(SamplesDir() + "/opera_game.pgn"));
    EXPECT_FALSE(Exists(locked / "chess.000.pgn"));
}

}  // namespace
