// Paths as this system writes them: names separated by its separators (IsPathSeparator).
// Only the text of a path is looked at here; nothing asks the system whether it exists.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Room for the path of a session file and its terminator: Windows' MAX_PATH. Every path
// buffer of the recorder is this size, or this size and the room a suffix needs.
constexpr std::size_t kMaxPath = 260;

// Where the name part of path begins: just after its last separator, 0 when it has none.
std::size_t NameOffset(std::string_view path);

// The name part of path: what follows its last separator (all of it when it has none).
std::string_view NamePart(std::string_view path);

// The folder part of path: up to its last separator, without it; the root folder keeps its
// separator ("/x" gives "/"); "." when path names no folder.
std::string FolderPart(std::string_view path);

// Where the extension of path's name begins: the offset of the last dot of the name part,
// unless that dot is the name's first character; npos when the name has no extension.
std::size_t ExtensionDot(std::string_view path);

// name in folder: folder, the system's separator unless folder ends with one (or is empty),
// and name.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace platform
