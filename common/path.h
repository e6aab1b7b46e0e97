#pragma once

// Paths as the program builds them: plain text, joined with the platform's
// separator and never normalised.

#include <string>

namespace velk {

// A directory and a name joined with the platform's separator, without any
// normalisation: a name that is itself a path still goes below the directory.
std::string JoinPath(const std::string& directory, const std::string& name);

// The folder part of a path: everything before its last separator ("\\" or
// "/"); "." when it has none, the root when the separator comes first.
std::string FolderOf(const std::string& path);

}  // namespace velk
