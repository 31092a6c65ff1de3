// Sharing modes on POSIX are locks, which must keep out other processes too.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "support/files.h"

using namespace platform;

TEST(FilePosixTest, AnotherProcessIsExcludedByAWriter) {
    ScratchDir dir;
    std::string path = dir / "game.pgn";
    FileHandle writer = OpenFile(path.c_str(), kWrite, Share::kNone, Disposition::kOpenAlways);
    ASSERT_TRUE(writer.IsValid());
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileHandle reader = OpenFile(path.c_str(), kRead, Share::kRead, Disposition::kOpenExisting);
        ::_exit(!reader.IsValid() && IsError(LastError(), ErrorKind::kSharingViolation) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CloseFile(writer);
}
