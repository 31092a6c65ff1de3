#include "platform/path.h"

#include "platform/platform.h"

namespace platform {

std::size_t NameOffset(std::string_view path) {
    for (std::size_t at = path.size(); at > 0; --at) {
        if (IsPathSeparator(path[at - 1])) return at;
    }
    return 0;
}

std::string_view NamePart(std::string_view path) {
    return path.substr(NameOffset(path));
}

std::string FolderPart(std::string_view path) {
    const std::size_t name = NameOffset(path);
    if (name == 0) return ".";
    // The root folder keeps its separator.
    return std::string(path.substr(0, name == 1 ? 1 : name - 1));
}

std::size_t ExtensionDot(std::string_view path) {
    const std::size_t name = NameOffset(path);
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot <= name ? std::string_view::npos : dot;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && !IsPathSeparator(path.back())) path += PathSeparator();
    path += name;
    return path;
}

}  // namespace platform
