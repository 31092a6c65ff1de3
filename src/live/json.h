// Text as a JSON string, for the spectators' event stream.
#pragma once

#include <string>
#include <string_view>

namespace live {

// Appends text to json as a JSON string, quotes included. Control characters are escaped,
// and so are '<', '>' and '&' (a stream shown in a page carries no markup of its own);
// bytes that are not UTF-8 become U+FFFD, so that the result is always valid UTF-8.
void AppendJsonString(std::string& json, std::string_view text);

}  // namespace live
