// The command lines of pgnindex and boardsim as a user meets them: the help on standard
// output, and every failure told in one line on standard error that names its file and the
// system's reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"
#include "support/process.h"

// -h and --help answer on standard output with exit code 0; boardsim's help names every
// script token and every option of both modes.
TEST(CommandLine, HelpGoesToStandardOutput) {
    ScratchDir dir;
    for (const std::string& program : {PgnindexBinary(), BoardsimBinary()}) {
        for (const char* option : {"-h", "--help"}) {
            RunResult run = RunProgram(dir, {program, option});
            EXPECT_EQ(run.status, 0) << program << " " << option;
            EXPECT_EQ(run.out.rfind("Usage : ", 0), 0u) << run.out;
            EXPECT_EQ(run.err, "");
            if (program != BoardsimBinary()) continue;
            for (const char* item : {"e2e4", "  t ", "  n ", "  c ", "x:HEX", "#", "--chunk",
                                     "--seed", "--gap", "--wait-ms", "--hold", "record", "live"}) {
                EXPECT_NE(run.out.find(item), std::string::npos) << option << ": " << item;
            }
        }
    }
}

// A file that cannot be read or written is named with the system's reason, in one line;
// wrong arguments say what is wrong before the usage.
TEST(CommandLine, FailuresNameTheirFileAndReason) {
    ScratchDir dir;
    const std::string notFound = ErrorKindText(platform::ErrorKind::kNotFound);
    const std::string missing = dir / "missing.pgn";
    RunResult run = RunProgram(dir, {PgnindexBinary(), missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "pgnindex: cannot open " + missing + ": " + notFound + "\n");
    run = RunProgram(dir, {PgnindexBinary(), "a.pgn", "b.pgn"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("Usage : ", 0), 0u) << run.err;

    const std::string script = dir / "missing.txt";
    run = RunProgram(dir, {BoardsimBinary(), "record", script, dir / "out.rec"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "boardsim: cannot read script " + script + ": " + notFound + "\n");
    EXPECT_FALSE(Exists(dir / "out.rec"));

    WriteBytes(dir / "game.txt", "e2e4 e7e5\n");
    const std::string unreachable = dir / "no-such-folder/out.rec";
    run = RunProgram(dir, {BoardsimBinary(), "record", dir / "game.txt", unreachable});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "boardsim: cannot create " + unreachable + ": " +
                           CreateFailureText(unreachable) + "\n");

    run = RunProgram(
        dir, {BoardsimBinary(), "record", dir / "game.txt", dir / "out.rec", "--chunk", "0"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("boardsim: --chunk needs a whole number from 1 to 8192\nUsage : ", 0),
              0u)
        << run.err;
    run = RunProgram(dir, {BoardsimBinary(), "live", dir / "game.txt", "--chunk", "4"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("boardsim: unknown option for live: --chunk\nUsage : ", 0), 0u)
        << run.err;
    EXPECT_FALSE(Exists(dir / "out.rec"));
}
