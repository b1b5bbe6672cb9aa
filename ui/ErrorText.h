#pragma once

#include <string>
#include <string_view>

// The text of the error report: the message, with "." appended when it is not
// empty and its last character's code is above that of "." (U+002E). So a
// message ending in a blank, '"', ')', '-' or '.' is shown as it is.
std::wstring ErrorReportText(std::wstring_view message);
