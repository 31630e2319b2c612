#pragma once

#include <string>

namespace tallyport {

// Paths as the program keeps them, as bytes (the file names of the settings), spelled and
// resolved the platform's way: "/" on POSIX; "\" or "/", drive letters and "\\server\share"
// on Windows, where the bytes are in the ANSI code page (base/Win32Text.h says how they reach
// the system). Free functions without state: any thread.

// `name` in `folder`; `name` itself when it is absolute, `folder` when `name` is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

// The path without "." and ".." parts, doubled separators and a trailing separator (a root
// keeps its own); "" stays "".
std::string NormalPath(const std::string& path);

// True when the path does not depend on the working folder (POSIX: it starts with "/";
// Windows: a drive and a separator, or a "\\server\share" name).
bool IsAbsolutePath(const std::string& path);

// The folder that holds `path` ("" for a bare name; a root is its own folder).
std::string ParentFolder(const std::string& path);

// The same path as a key that is equal for every spelling of one file as far as the names show
// it: absolute, normal, and on Windows (whose names ignore case) in upper case.
std::string ComparablePath(const std::string& path);

// The file system by those names. The int results are the platform's error code
// (base/SystemError.h), 0 on success.

// `path` relative to the working folder made absolute and normal; `path` itself when the working
// folder cannot be read.
std::string AbsolutePath(const std::string& path);
// AbsolutePath with the links of the part that exists resolved (on Windows also the names'
// case as the file system keeps it): one spelling for one file or folder, for a path that is
// kept or compared.
std::string CanonicalPath(const std::string& path);
// The working folder; "" when it cannot be read.
std::string WorkingFolder();
int ChangeWorkingFolder(const std::string& folder);
// Makes `folder` and every missing folder above it; 0 also when it was already there.
int MakeFolders(const std::string& folder);
// True when something (a file, a folder) has that name, and when that cannot be known (whoever
// must not touch a file then leaves it alone).
bool PathExists(const std::string& path);
// Creates the file `path` holding `bytes` unless something has that name already: a file of the
// user's is never replaced. `error` is set for the two failures.
enum class NewFile { Created, Existed, NotCreated, NotWritten };
NewFile CreateNewFile(const std::string& path, const std::string& bytes, int& error);
// Removes the file; 0 also when it was not there.
int RemoveFile(const std::string& path);

}  // namespace tallyport
