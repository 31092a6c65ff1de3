#include "recorder/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "session/console.h"

namespace {

void PrintHelp(const char* name) {
    std::printf(
        "Usage : %s [Recorded file]\n"
        "\n"
        "Without an argument, records the board on the serial line: every move is checked,\n"
        "printed and logged, and every game is saved as PGN when the board starts a new game\n"
        "and when the recorder is stopped (Ctrl-C). With a record file, replays that session\n"
        "without the board.\n"
        "\n"
        "Files, in CHESSREC_DIR when it is set, else beside the executable when that folder\n"
        "can be written, else in the current folder; NNN is the first session number from\n"
        "000 to 099 that no earlier session's files take:\n"
        "  NAME.NNN.pgn          the session's games\n"
        "  NAME.NNN.log          every byte the board sent, and what the recorder made of it\n"
        "  NAME.NNN.rec          every chunk the serial line delivered (live mode only)\n"
        "  NAME.NNN.current.pgn  the game in progress (live mode only); a recorder that was\n"
        "                        killed leaves it, and the next one saves it into NAME.NNN.pgn\n"
        "\n"
        "Standard output carries the moves and the board's events. Standard error says, in\n"
        "lines that begin with \"chessrec:\", where the session's files go, how many games\n"
        "were saved at the end, and why a session cannot start; the manual page\n"
        "chessrec(1) explains each message.\n"
        "\n"
        "Environment (when set, not empty):\n"
        "  CHESSREC_DIR   folder for the session files\n"
        "  CHESSREC_PORT  serial device of the board (default %s)\n",
        name, platform::DefaultSerialDevice());
    std::fflush(stdout);
}

}  // namespace

StepEnd ReadArguments(int argc, char** argv, const char** replayPath) {
    if (argc != 1 && argc != 2) {
        // A program may be started with no arguments at all, not even its name.
        ConsolePrint("Usage : %s [Recorded file]\n", argc > 0 && argv[0] ? argv[0] : "chessrec");
        return -1;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintHelp(argv[0]);
        return 0;
    }
    *replayPath = argc == 2 ? argv[1] : nullptr;
    return std::nullopt;
}

StepEnd CheckEnvironment(bool live) {
    // An empty value is a mistake (a script's unset variable), never a wish for the default.
    const char* folder = std::getenv("CHESSREC_DIR");
    if (folder && !*folder) {
        Say("CHESSREC_DIR is set but empty: name the folder for the session files, or unset it");
        return -1;
    }
    const char* port = std::getenv("CHESSREC_PORT");
    if (live && port && !*port) {
        Say("CHESSREC_PORT is set but empty: name the board's serial device, or unset it");
        return -1;
    }
    return std::nullopt;
}
