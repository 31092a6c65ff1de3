// The spectators' page (page/index.html: HTML with its style and script inline), built into
// the program at compile time so that it is served without a file on disk.
#pragma once

#include <string_view>

namespace live {

// The page's bytes, exactly as in page/index.html.
std::string_view SpectatorPage();

}  // namespace live
