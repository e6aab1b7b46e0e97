#pragma once

// Paths as the program builds them: plain text, joined with the platform's
// separator and never normalised.

#include <string>

namespace velk {

// A directory and a name joined with the platform's separator, without any
// normalisation: a name that is itself a path still goes below the directory.
std::string JoinPath(const std::string& directory, const std::string& name);

// The folder part of a path: everything before its last separator, "\" or
// "/" alike on every platform; "." when there is none, the root ("/" or "\")
// when the separator is the first character.
std::string FolderOf(const std::string& path);

// The current working directory, as text; "." when it has no name.
std::string CurrentDirectory();

}  // namespace velk
