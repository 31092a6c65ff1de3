// Codes the system has no text for, and the stop signals that end a recording through the
// console control handler.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.h"

using namespace platform;

namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, n);
    return text;
}

struct Noisy {
    ~Noisy() { std::fputs(" destructor", stdout); }
};

void SaveAndExit() {
    std::fputs(" saved", stdout);  // no line end: ExitProcess must flush it
    ExitProcess(0);
}

// A child recorder that waits, stopped by signal; answers its output and exit status.
std::pair<std::string, int> StopChild(int signal) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {"no pipe", -1};
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::dup2(pipeFds[1], 1);
        static Noisy noisy;
        if (!InstallControlHandler(SaveAndExit)) ::_exit(3);
        int broken[2];
        if (::pipe(broken) == 0) {
            ::close(broken[0]);
            // A console pipe that closed must not kill the recording.
            if (::write(broken[1], "x", 1) < 0 && errno == EPIPE) std::fputs("pipe-ok", stdout);
        }
        std::fputs(" ready", stdout);
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
    ::close(pipeFds[1]);
    std::string output;
    char buffer[64];
    while (output.find("ready") == std::string::npos) {
        ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        output.append(buffer, n);
    }
    ::kill(child, signal);
    output += ReadAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {output, status};
}

}  // namespace

TEST(ErrorPosixTest, CodesWithoutADescriptionHaveNoText) {
    char text[512] = "x";
    EXPECT_FALSE(ErrorText(0x7FFF, text, sizeof text));
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(ErrorText(0x80004005u, text, sizeof text));
    EXPECT_STREQ(text, "");
}

TEST(ProcessPosixTest, StopSignalsRunTheHandlerWhichExitsCleanly) {
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        auto [output, status] = StopChild(signal);
        EXPECT_EQ(output, "pipe-ok ready saved");
        ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}
