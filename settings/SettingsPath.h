#pragma once

#include <string>
#include <string_view>

// The settings file beside the executable: the folder part of exePath (up to
// and including its last '\' or ':', empty when it has neither) followed by
// "/set.ini" as it stands. "C:\Tools\Quenlet.exe" gives "C:\Tools\/set.ini";
// the profile functions accept the mixed separators, and stored paths and
// error messages have always shown it this way.
std::wstring SettingsPathFor(std::wstring_view exePath);
