// The language setting in the registry, the user-interface strings, and the
// window-menu items that change the language or open the web page.
#pragma once

#include <windows.h>

#include "ProgramState.h"

inline constexpr char kSettingsKey[] = "Software\\Quenmoor\\Tovacrex";
inline constexpr char kLanguageValue[] = "Language";

inline constexpr UINT kCmdEnglish = 2000;
inline constexpr UINT kCmdRussian = 2001;
inline constexpr UINT kCmdWebPage = 2002;

// Reads the language (English when the key or value is missing or unreadable)
// and loads the sixteen strings of that language from the program's module.
void ReadSettings(TProgramState& program);
// Stores the language; a failure is silent and leaves the stored value.
void WriteSettings(const TProgramState& program);

// Appends the separator, "English", "Russian", separator and the web-page item
// to the dialog's window menu.
void AppendWindowMenuItems(HWND dialog, const TProgramState& program);
// Handles 2000, 2001 and 2002; ignores every other id.
void HandleWindowMenuCommand(TProgramState& program, UINT id);
