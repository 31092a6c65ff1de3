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
    EXPECT_EQ(ReadArguments(run, 0, argv), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage : chessrec [Recorded file]\n");
}

// Session names are never cut: a stem whose names would not fit is refused before any
// file is made, and the longest that fits gives whole names.
TEST(Startup, SessionNamesThatDoNotFitAreRefused) {
    ScratchDir dir;
    const std::string folder = dir.Path() + "/";
    const std::size_t longest = kPathRoom - 8;  // and "NNN.pgn" with its terminator
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
    EXPECT_TRUE(Exists(run.logPath));
    ResetSession();
}

}  // namespace
