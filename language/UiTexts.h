#pragma once
// UI texts by number: the built-in German table (Windows-1252 bytes) and language libraries
// (PE resource-only .dll files) that replace them id by id.

#include "state/AppState.h"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace pelotest {

inline constexpr int kUiTextCount = 132;

// The built-in text of id ("#13" turned into CR); empty for an id the table lacks.
std::string loadBuiltInUiText(int id);

// The text of id in the library languageDll (a bare file name looked for in folders, the first
// folder holding it wins), falling back to the built-in text id by id. An empty name, a name with
// a folder part, or a missing or unreadable file gives the built-in text. Texts are cut to 259
// characters and "#13" becomes CR. The library is read anew on every call; nothing is cached.
std::string loadUiText(std::span<const std::filesystem::path> folders, std::string_view languageDll,
                       int id);
// Convenience for request code: the current LanguageDll and folders of the state. Reads the state
// without locking it: call it with state.mutex held, or on the thread that writes LanguageDll.
std::string loadUiText(const AppState& state, int id);

// loadUiText with every "%1" replaced by arg1 (then every "%2" by arg2).
std::string formatUiText(const AppState& state, int id, std::string_view arg1);
std::string formatUiText(const AppState& state, int id, std::string_view arg1,
                         std::string_view arg2);

} // namespace pelotest
