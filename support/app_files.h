#pragma once

#include <cstddef>
#include <string>

// The few files the command line keeps for its user. One platform file
// implements this header: app_files_posix.cpp or app_files_win32.cpp.

// This user's cache folder for the program: $XDG_CACHE_HOME/wendrel, else
// ~/.cache/wendrel; %LOCALAPPDATA%\Wendrel on Windows. "" when unknown.
std::string UserCacheDirectory();

// The path of `name` inside `directory`, with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

// The whole file, when it exists and holds at most maxBytes.
bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& out);

// Replaces the file in one step (a temporary file beside it, then a rename),
// readable and writable by this user only; makes its folder when missing.
bool WriteFileAtomically(const std::string& path, const std::string& content);
