// The folder of --out: games.pgn and game-N.pgn, for an upload tool that sends what changes.
#pragma once

#include <map>
#include <set>
#include <string>

namespace live {

class OutFolder {
public:
    explicit OutFolder(std::string folder) : folder_(std::move(folder)) {}

    // Makes name's file hold text: replaced by a rename (a reader finds the old file or the
    // new one, whole) when its contents differ, never rewritten when they do not (also not
    // at start, over a file that holds text already). A failure (a full disk) is said on
    // standard error, with the file and the system's reason, once for a run of failures of
    // any of the files; a file that failed is tried again at its next change, and when no
    // file fails any more, that is said too.
    void Write(const std::string& name, const std::string& text);

private:
    std::string folder_;
    std::map<std::string, std::string> held_;  // what each file holds, once known
    std::set<std::string> failing_;            // the files whose last write failed
};

}  // namespace live
