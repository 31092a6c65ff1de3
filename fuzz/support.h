// What the fuzz targets share: a scratch folder for the files they write, the silencing
// of the console, a reader that takes the fuzzer's bytes off the front of its input, and
// the check that stops a run when a property fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The process's scratch folder, made at the first call (in memory, under /dev/shm, where
// the system has it) and removed when the process ends normally.
const std::string& ScratchFolder();
// The path of name in the scratch folder.
std::string ScratchFile(const char* name);

// Sends standard output to /dev/null: the recorder's console lines would drown the
// fuzzer's own.
void SilenceConsole();

// Reads the whole file at path ("" when it cannot be read).
std::string ReadWholeFile(const std::string& path);
// Writes size bytes as the whole file at path; false when that failed.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size);
// Removes path if it exists.
void RemoveFile(const std::string& path);

// Checks the session log that the decoder and the board handlers wrote (no other writer
// may have written to it) against the log's line discipline: every line is a line of
// bare hex bytes ("%02X " each, 1 to 16 of them) or one of the labelled lines, each of
// those on a line of its own; a move line names the squares of its own bytes and is
// followed by its verdict; "New Game" follows exactly the time messages whose data is
// all zeros. Answers the number of new games.
int CheckSessionLog(const std::string& log);

// Checks the PGN file that a session's new games were saved into: its index finds
// exactly games games, each with the tags of a new game (the recorder changes none),
// starting at an "[Event " line. A file that is absent counts as holding no game.
void CheckSessionPgn(const std::string& path, int games);

// A failed property: says which on standard error and aborts, so that the fuzzer keeps
// the input.
[[noreturn]] void PropertyFailed(const char* what);
#define FUZZ_CHECK(condition)                         \
    do {                                              \
        if (!(condition)) PropertyFailed(#condition); \
    } while (0)

// The fuzzer's input, taken from the front. Past the end every byte reads as 0.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    std::size_t Left() const { return size_ - at_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to length bytes as text; each byte for which keep answers false becomes replace.
    std::string Text(std::size_t length, bool (*keep)(std::uint8_t), char replace);
    // The rest of the input.
    const std::uint8_t* Rest() const { return data_ + at_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
