// boardsim: a virtual board. It turns a small script of board events into the byte stream
// a board sends, and either writes it as a record file that chessrec replays (record mode)
// or plays it on a virtual serial line that chessrec records (live mode).
//
// Script tokens, separated by blanks ('#' starts a comment to the end of the line):
//   e2e4      a move from e2 to e4 (a 0x90 message)
//   t         a take-back (0x99)
//   n         a new game (0x93 and eight zeros)
//   c         a time message with a running clock (0x93 and non-zero data)
//   x:HEX...  raw bytes, two hex digits each (x:9A1434 or x:FF)
// Like a board, the stream begins with a first 0x93 and eight zeros.
//
// Record mode: the record file holds one record per chunk: by default one per event;
// --chunk N cuts the stream into chunks of N bytes, --seed S into chunks of random sizes
// (some of them empty). The elapsed times follow the pace of a 2400-baud line (10 bits a
// byte), with --gap milliseconds between events.
//
// Live mode: opens a virtual line, prints "device PATH" (the device for CHESSREC_PORT),
// waits until a recorder opens it, then sends the stream byte by byte at the line's pace
// with --gap milliseconds between events, printing "received XX" for each byte that comes
// back. Once the script is sent and nothing has come back for --wait-ms milliseconds, it
// closes the line, which the recorder sees as a hang-up; with --hold it keeps the line
// open until it is stopped (Ctrl-C).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "platform/platform.h"
#include "platform/testkit.h"
#include "recorder/record_format.h"

namespace {

struct Event {
    std::vector<std::uint8_t> bytes;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSquare(const std::string& s, std::size_t at) {
    return s[at] >= 'a' && s[at] <= 'h' && s[at + 1] >= '1' && s[at + 1] <= '8';
}

// The square byte of the square named at s[at] ("e2").
std::uint8_t SquareAt(const std::string& s, std::size_t at) {
    return SquareByte(s[at] - 'a', s[at + 1] - '1');
}

void Assign(std::vector<std::uint8_t>& bytes, const std::string& message) {
    bytes.assign(message.begin(), message.end());
}

bool ParseToken(const std::string& token, Event* event, std::string* error) {
    auto& b = event->bytes;
    if (token == "t") {
        Assign(b, TakeBackMessage());
    } else if (token == "n") {
        Assign(b, NewGameMessage());
    } else if (token == "c") {
        Assign(b, TimeMessage({0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00}));
    } else if (token.size() == 4 && IsSquare(token, 0) && IsSquare(token, 2)) {
        Assign(b, MoveMessage(SquareAt(token, 0), SquareAt(token, 2)));
    } else if (token.rfind("x:", 0) == 0 && token.size() > 2 && token.size() % 2 == 0) {
        for (std::size_t i = 2; i < token.size(); i += 2) {
            int high = HexDigit(token[i]);
            int low = HexDigit(token[i + 1]);
            if (high < 0 || low < 0) {
                *error = "bad hex byte in '" + token + "'";
                return false;
            }
            b.push_back(static_cast<std::uint8_t>(high << 4 | low));
        }
    } else {
        *error = "unknown token '" + token + "'";
        return false;
    }
    return true;
}

// The system's text for the last failed call of the platform layer.
std::string LastErrorText() {
    return platform::ReasonText(platform::LastError());
}

// The whole text of the file at path, or false with the reason told on standard error.
bool ReadWholeFile(const char* path, std::string* text) {
    platform::FileHandle file = platform::OpenFile(path, platform::kRead, platform::Share::kRead,
                                                   platform::Disposition::kOpenExisting);
    bool ok = file.IsValid();
    char buffer[4096];
    std::uint32_t count = 0;
    while (ok && (ok = platform::ReadFile(file, buffer, sizeof buffer, &count)) && count > 0)
        text->append(buffer, count);
    platform::ErrorCode error = platform::LastError();
    platform::CloseFile(file);
    if (!ok)
        std::fprintf(stderr, "boardsim: cannot read script %s: %s\n", path,
                     platform::ReasonText(error).c_str());
    return ok;
}

// Reads the script at path ("-": standard input) into events, after the board's first
// time message.
bool ReadScript(const char* path, std::vector<Event>* events) {
    const bool fromInput = std::strcmp(path, "-") == 0;
    std::string text;
    if (!fromInput && !ReadWholeFile(path, &text)) return false;
    std::istringstream file(text);
    std::istream& in = fromInput ? std::cin : file;
    events->push_back(Event{});
    Assign(events->back().bytes, NewGameMessage());  // the board's greeting
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream tokens(line);
        std::string token;
        while (tokens >> token) {
            Event event;
            std::string error;
            if (!ParseToken(token, &event, &error)) {
                std::fprintf(stderr, "boardsim: %s, line %d: %s\n", path, number, error.c_str());
                return false;
            }
            events->push_back(event);
        }
    }
    return true;
}

// One chunk of the stream as the port would deliver it, with its arrival time.
struct Chunk {
    std::uint32_t elapsed;
    std::vector<std::uint8_t> bytes;
};

constexpr double kMillisecondsPerByte = 10 * 1000.0 / 2400;  // start, 8 data and stop bits

std::vector<Chunk> CutIntoChunks(const std::vector<Event>& events, int chunkSize, bool random,
                                 unsigned seed, int gap) {
    // Every byte with the moment its last bit arrives.
    std::vector<std::uint8_t> stream;
    std::vector<double> arrival;
    double clock = 0;
    for (const Event& event : events) {
        for (std::uint8_t byte : event.bytes) {
            clock += kMillisecondsPerByte;
            stream.push_back(byte);
            arrival.push_back(clock);
        }
        clock += gap;
    }
    std::vector<Chunk> chunks;
    if (chunkSize == 0 && !random) {
        std::size_t at = 0;
        for (const Event& event : events) {
            Chunk chunk{static_cast<std::uint32_t>(arrival[at + event.bytes.size() - 1]),
                        {stream.begin() + at, stream.begin() + at + event.bytes.size()}};
            chunks.push_back(chunk);
            at += event.bytes.size();
        }
        return chunks;
    }
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> size(0, 24);
    for (std::size_t at = 0; at < stream.size();) {
        std::size_t n = random ? static_cast<std::size_t>(size(generator))
                               : static_cast<std::size_t>(chunkSize);
        n = std::min(n, stream.size() - at);
        double when = n > 0 ? arrival[at + n - 1] : (at > 0 ? arrival[at - 1] : 0);
        chunks.push_back(Chunk{static_cast<std::uint32_t>(when),
                               {stream.begin() + at, stream.begin() + at + n}});
        at += n;
    }
    return chunks;
}

constexpr int kMaxValue = 3600000;

// An option's value: a whole decimal number from 0 to kMaxValue.
bool ParseNumber(const char* text, int* value) {
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 0 || number > kMaxValue) return false;
    *value = static_cast<int>(number);
    return true;
}

bool WriteRecordFile(const char* path, const std::vector<Chunk>& chunks) {
    std::string records;
    for (const Chunk& chunk : chunks) {
        records += RecordBytes(
            std::string_view(reinterpret_cast<const char*>(chunk.bytes.data()), chunk.bytes.size()),
            chunk.elapsed);
    }
    platform::FileHandle file = platform::OpenFile(path, platform::kWrite, platform::Share::kNone,
                                                   platform::Disposition::kCreateAlways);
    if (!file.IsValid()) {
        std::fprintf(stderr, "boardsim: cannot create %s: %s\n", path, LastErrorText().c_str());
        return false;
    }
    std::uint32_t written = 0;
    bool ok = platform::WriteFile(file, records.data(), static_cast<std::uint32_t>(records.size()),
                                  &written);
    platform::ErrorCode error = platform::LastError();
    if (!platform::CloseFile(file) && ok) {
        ok = false;
        error = platform::LastError();
    }
    if (!ok)
        std::fprintf(stderr, "boardsim: cannot write %s: %s\n", path,
                     platform::ReasonText(error).c_str());
    return ok;
}

void PrintSynopsis(std::FILE* to) {
    std::fputs(
        "Usage : boardsim record SCRIPT OUT.rec [--chunk N | --seed S] [--gap MS]\n"
        "        boardsim live SCRIPT [--gap MS] [--wait-ms MS] [--hold]\n"
        "        boardsim -h | --help\n",
        to);
}

void PrintUsage(std::FILE* to) {
    PrintSynopsis(to);
    std::fprintf(
        to,
        "\n"
        "A virtual board: turns SCRIPT, a file of board events (- for standard input), into\n"
        "the byte stream a board sends, which begins with the board's new-game greeting.\n"
        "\n"
        "Script tokens, separated by blanks; # starts a comment to the end of the line:\n"
        "  e2e4      a move from e2 to e4 (any two squares a1 to h8)\n"
        "  t         a take-back\n"
        "  n         a new game\n"
        "  c         a clock message (a time message with the clock running)\n"
        "  x:HEX     raw bytes, two hex digits each (x:FF, x:9A1434)\n"
        "\n"
        "record writes the stream to OUT.rec, a record file for chessrec to replay:\n"
        "  --chunk N     chunks of N bytes (1 to %u) instead of one chunk per event\n"
        "  --seed S      chunks of random sizes (0 to 24 bytes), drawn from the seed S\n"
        "  --gap MS      milliseconds between events in the recorded times (default 1000)\n"
        "\n"
        "live plays the stream on a virtual serial line at the pace of 2400 baud: it prints\n"
        "\"device PATH\", waits for a recorder on it (CHESSREC_PORT=PATH chessrec), and\n"
        "prints \"received XX\" for each byte the recorder sends back:\n"
        "  --gap MS      pause between events (default 1000)\n"
        "  --wait-ms MS  once the script is played, hang up after MS quiet milliseconds\n"
        "                (default 1000)\n"
        "  --hold        keep the line open until Ctrl-C instead of hanging up\n"
        "\n"
        "MS and S are whole numbers from 0 to 3600000. Exit status: 0 done, 1 the script,\n"
        "the record file or the line failed, 2 wrong arguments.\n",
        static_cast<unsigned>(kCaptureBufferSize));
}

// A wrong command line, on standard error: the whole usage, or what is wrong and the
// synopsis.
int Usage(const std::string& problem = "") {
    if (problem.empty()) {
        PrintUsage(stderr);
    } else {
        std::fprintf(stderr, "boardsim: %s\n", problem.c_str());
        PrintSynopsis(stderr);
        std::fputs("boardsim --help lists the script's tokens and every option.\n", stderr);
    }
    return 2;
}

// The value of the option at argv[i]: a whole number from low to 3,600,000.
bool OptionValue(int argc, char** argv, int i, int low, int* value) {
    return i + 1 < argc && ParseNumber(argv[i + 1], value) && *value >= low;
}

std::string BadValue(const char* option, int low, int high) {
    return std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
}

// ---------------------------------------------------------------------------------------
// Live mode

void OnStop() {
    platform::ExitProcess(0);  // the line closes with the process: a hang-up
}

// Prints every byte that the recorder has sent. False when the recorder has closed the line.
bool ReportAnswers(platform::FileHandle line) {
    std::uint8_t bytes[256];
    std::uint32_t count = 0;
    if (!platform::ReadFile(line, bytes, sizeof bytes, &count)) return false;
    for (std::uint32_t i = 0; i < count; ++i)
        std::printf("received %02X\n", bytes[i]);
    std::fflush(stdout);
    return true;
}

// Waits until the moment due (a TickCount), printing the answers that come meanwhile.
// False when the recorder has closed the line.
bool WaitUntil(platform::FileHandle line, std::uint32_t due) {
    for (;;) {
        auto left = static_cast<std::int32_t>(due - platform::TickCount());
        if (left <= 0) return true;
        switch (platform::testkit::WaitForInput(line, static_cast<std::uint32_t>(left))) {
            case platform::testkit::WaitResult::kReady:
                if (!ReportAnswers(line)) return false;
                break;
            case platform::testkit::WaitResult::kTimedOut:
                break;
            case platform::testkit::WaitResult::kFailed:
                return false;
        }
    }
}

int PlayLive(const std::vector<Event>& events, int gap, int quietMs, bool hold) {
    char device[256];
    platform::FileHandle line = platform::testkit::OpenVirtualLine(device, sizeof device);
    if (!line.IsValid()) {
        std::fprintf(stderr, "boardsim: cannot open a virtual serial line: %s\n",
                     LastErrorText().c_str());
        return 1;
    }
    std::printf("device %s\n", device);
    std::fflush(stdout);
    if (hold) platform::InstallControlHandler(OnStop);
    std::fprintf(stderr, "boardsim: waiting for a recorder on %s\n", device);
    while (!platform::testkit::IsVirtualLinePeerOpen(line))
        platform::testkit::Sleep(10);
    std::fprintf(stderr, "boardsim: recorder on the line, playing %zu events\n", events.size());

    // Each byte leaves when its last bit would have crossed a 2400-baud line.
    const std::uint32_t start = platform::TickCount();
    double clock = 0;
    for (std::size_t e = 0; e < events.size(); ++e) {
        if (e > 0) clock += gap;
        for (std::uint8_t byte : events[e].bytes) {
            clock += kMillisecondsPerByte;
            std::uint32_t written = 0;
            if (!WaitUntil(line, start + static_cast<std::uint32_t>(clock)) ||
                !platform::WriteFile(line, &byte, 1, &written)) {
                std::fprintf(stderr, "boardsim: the recorder closed the line\n");
                platform::CloseFile(line);
                return 1;
            }
        }
    }
    // The answers to the last bytes: the line stays open until it has been quiet a while.
    std::uint32_t quietSince = platform::TickCount();
    for (bool open = true; open;) {
        std::uint32_t spent = platform::TickCount() - quietSince;
        std::uint32_t left = hold ? platform::testkit::kWaitForever
                             : spent >= static_cast<std::uint32_t>(quietMs)
                                 ? 0
                                 : static_cast<std::uint32_t>(quietMs) - spent;
        if (!hold && left == 0) break;
        switch (platform::testkit::WaitForInput(line, left)) {
            case platform::testkit::WaitResult::kReady:
                open = ReportAnswers(line);
                quietSince = platform::TickCount();
                break;
            case platform::testkit::WaitResult::kTimedOut:
                break;
            case platform::testkit::WaitResult::kFailed:
                open = false;
                break;
        }
    }
    std::fprintf(stderr, "boardsim: script played, closing the line\n");
    platform::CloseFile(line);
    return 0;
}

int LiveMain(int argc, char** argv) {
    int gap = 1000;
    int quietMs = 1000;
    bool hold = false;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hold") == 0) {
            hold = true;
            continue;
        }
        int* value = std::strcmp(argv[i], "--gap") == 0       ? &gap
                     : std::strcmp(argv[i], "--wait-ms") == 0 ? &quietMs
                                                              : nullptr;
        if (!value) return Usage(std::string("unknown option for live: ") + argv[i]);
        if (!OptionValue(argc, argv, i, 0, value)) return Usage(BadValue(argv[i], 0, kMaxValue));
        ++i;
    }
    std::vector<Event> events;
    if (!ReadScript(argv[2], &events)) return 1;
    return PlayLive(events, gap, quietMs, hold);
}

int RecordMain(int argc, char** argv) {
    int chunkSize = 0;
    bool random = false;
    int seed = 0;
    int gap = 1000;
    const int maxChunk = static_cast<int>(kCaptureBufferSize);
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--chunk") == 0) {
            if (!OptionValue(argc, argv, i, 1, &chunkSize) || chunkSize > maxChunk)
                return Usage(BadValue(argv[i], 1, maxChunk));
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            if (!OptionValue(argc, argv, i, 0, &seed))
                return Usage(BadValue(argv[i], 0, kMaxValue));
            random = true;
        } else if (std::strcmp(argv[i], "--gap") == 0) {
            if (!OptionValue(argc, argv, i, 0, &gap)) return Usage(BadValue(argv[i], 0, kMaxValue));
        } else {
            return Usage(std::string("unknown option for record: ") + argv[i]);
        }
        ++i;
    }
    std::vector<Event> events;
    if (!ReadScript(argv[2], &events)) return 1;
    return WriteRecordFile(
               argv[3], CutIntoChunks(events, chunkSize, random, static_cast<unsigned>(seed), gap))
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    platform::UseBinaryStandardStreams();
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintUsage(stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc < 2) return Usage();
    if (std::strcmp(argv[1], "live") == 0)
        return argc >= 3 ? LiveMain(argc, argv) : Usage("live needs a SCRIPT");
    if (std::strcmp(argv[1], "record") == 0)
        return argc >= 4 ? RecordMain(argc, argv) : Usage("record needs a SCRIPT and an OUT.rec");
    return Usage(std::string("unknown mode ") + argv[1] + " (record or live)");
}
