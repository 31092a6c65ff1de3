// The recorder's start-up steps in process, where the program itself cannot easily be
// driven.
#include "recorder/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/files.h"

namespace {

// Started with no arguments at all (argc 0, which exec allows), the recorder has no name
// of its own to print.
TEST(Startup, WithoutEvenAProgramNameTheUsageNamesTheRecorder) {
    RecorderRun run;
    char* argv[] = {nullptr};
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadArguments(0, argv, &run.replayPath), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage : chessrec [Recorded file]\n");
}

// A session is refused when it cannot make its files whole. Session names are never cut: a
// stem whose names would not fit is refused before any file is made, and the longest that
// fits gives whole names.
TEST(Startup, SessionFilesThatCannotBeMadeAreRefused) {
    ScratchDir dir;
    const std::string folder = dir.Path() + "/";
    const std::size_t longest = platform::kMaxPath - 8;  // and "NNN.pgn" with its terminator
    std::string stem = folder + std::string(longest - folder.size(), 'x');
    stem.back() = '.';

    const std::string oneMore = stem.substr(0, stem.size() - 1) + "x.";
    RecorderRun refused;
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenSessionFiles(refused, oneMore.c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("path too long"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    RecorderRun run;
    ASSERT_EQ(OpenSessionFiles(run, stem.c_str()), std::nullopt);
    EXPECT_EQ(std::string(run.logPath), stem + "000.log");
    EXPECT_EQ(std::string(run.gameInProgressPath), stem + "000.current.pgn");
    EXPECT_TRUE(Exists(run.logPath));

    // A live session that cannot create its record file does not start: it would record
    // nothing.
    std::filesystem::create_directory(run.recordPath);
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateRecordFile(run), -1);
    std::string said = testing::internal::GetCapturedStderr();
    const std::string start = "chessrec: cannot create " + std::string(run.recordPath) + ": ";
    EXPECT_EQ(said.rfind(start, 0), 0u) << said;
    EXPECT_GT(said.size(), start.size() + 1) << "no reason given";
    EXPECT_EQ(said.find('\n'), said.size() - 1);
    ResetSession();
}

}  // namespace
