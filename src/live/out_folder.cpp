#include "live/out_folder.h"

#include "live/board.h"
#include "live/say.h"
#include "platform/path.h"
#include "platform/platform.h"

namespace live {
namespace {

// Writes text to path through path + ".tmp" and a rename. These files are made again from
// the recorders' at any time: they are not flushed to the disk, which would cost every
// move the disk's time. False, with LastError(), when a step failed.
bool Replace(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    platform::FileHandle file =
        platform::OpenFile(temp.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    if (!file.IsValid()) return false;
    std::uint32_t written = 0;
    bool ok =
        platform::WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size()), &written);
    platform::ErrorCode code = platform::LastError();
    if (!platform::CloseFile(file) && ok) {
        ok = false;
        code = platform::LastError();
    }
    if (ok && !platform::RenameFileOver(temp.c_str(), path.c_str())) {
        ok = false;
        code = platform::LastError();
    }
    if (!ok) {
        platform::RemoveFile(temp.c_str());
        platform::SetLastError(code);
    }
    return ok;
}

}  // namespace

void OutFolder::Write(const std::string& name, const std::string& text) {
    const std::string path = platform::JoinPath(folder_, name);
    auto held = held_.find(name);
    if (held == held_.end()) {
        std::string before;
        if (ReadSharedFile(path, &before)) held = held_.emplace(name, std::move(before)).first;
    }
    if (held != held_.end() && held->second == text) return;
    if (!Replace(path, text)) {
        if (failing_.empty()) {
            Say("cannot write %s: %s (tried again at its next change)", path.c_str(),
                platform::ReasonText(platform::LastError()).c_str());
        }
        failing_.insert(name);
        // What the file holds is not known now: it is compared again at the next write.
        held_.erase(name);
        return;
    }
    held_[name] = text;
    if (failing_.erase(name) > 0 && failing_.empty()) Say("%s written again", path.c_str());
}

}  // namespace live
