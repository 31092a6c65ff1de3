// The folder of --out: games.pgn and game-N.pgn, for an upload tool that sends what changes.
#pragma once

#include <map>
#include <string>

namespace live {

class OutFolder {
public:
    explicit OutFolder(std::string folder) : folder_(std::move(folder)) {}

    // Makes name's file hold text: replaced by a rename (a reader finds the old file or the
    // new one, whole) when its contents differ, never rewritten when they do not (also not
    // at start, over a file that holds text already). A failure (a full disk) is said once
    // on standard error, with the file and the system's reason, and the file is tried again
    // at its next change; a write that works again is said too.
    void Write(const std::string& name, const std::string& text);

private:
    std::string folder_;
    std::map<std::string, std::string> held_;  // what each file holds, once known
    bool failing_ = false;
};

}  // namespace live
