#pragma once
// The information dialog with one button "&Yes": a task dialog where visual styles are in effect on
// Windows 6 and later, a classic dialog otherwise. Modal over the active window.
#include <string>

enum class TModalResult { mrCancel, mrYes };

TModalResult ShowInformationDialog(const std::wstring& text);
