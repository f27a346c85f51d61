#pragma once
// What differs between Linux and Windows, behind one set of functions; the
// build picks platform_posix.cpp or platform_win.cpp.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quilora::platform {

// A path named in UTF-8 (Windows reads a narrow path in the ANSI code page).
std::filesystem::path PathFromUtf8(const std::string& utf8);

// Replaces the file at target with text in one step: a reader, or a crash,
// finds the old file or the new one. The new one is readable and writable by
// its owner only, from the moment it exists. False for a read-only target or
// any failure; a temporary file is never left behind.
bool ReplaceFilePrivately(const std::filesystem::path& target, std::string_view text);

long CurrentProcessId();
// Whether the process of this machine with the given id has ended.
bool ProcessHasEnded(long pid);

bool IsTerminal(std::FILE* stream);
// The console shows what the program prints as UTF-8 (Windows' console uses
// the OEM code page otherwise).
void UseUtf8Console();

#ifdef _WIN32
// The ODBC drivers Windows' driver manager knows (elsewhere the connection
// string names its driver).
std::vector<std::string> OdbcDriverNames();
#endif

} // namespace quilora::platform
