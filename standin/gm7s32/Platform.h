// The few calls that differ between operating systems. Everything else in the
// library is standard C++ and SQLite, so a port replaces this file's
// implementation only.
#pragma once

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>

namespace gm7s32 {

// The broken-down local time of seconds (thread-safe).
std::tm localTime(std::time_t seconds);

// A file's name as SQLite takes it (UTF-8).
std::string sqliteFileName(const std::filesystem::path &path);

// Overwrites size bytes at data in a way the compiler may not drop.
void wipeMemory(void *data, std::size_t size);

// Creates directory (and missing parents) if need be and, unless it already
// held something, makes it reachable by its owner only, whatever the
// process's file-creation mask. False with *error set when it cannot.
bool makePrivateDirectory(const std::filesystem::path &directory, std::string *error);

// Creates path as a new, empty file that only its owner may read or write.
// Fails, and touches nothing, when path already exists. SQLite gives a
// database's journal and shared-memory files the database file's permissions,
// so they stay private too.
enum class NewFile { Created, Exists, Failed };
NewFile createPrivateFile(const std::filesystem::path &path, std::string *error);

} // namespace gm7s32
