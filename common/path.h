// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Paths as the program builds them: plain text, joined with the platform's
// separator and never normalised.

#include <optional>
#include <string>
#include <string_view>

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

// Where Windows keeps the file a legacy program (32-bit, without a
// manifest, run by a normal user) writes at `path`, a Windows path on the
// system drive (`systemDrive`, "C:") below "Program Files", "Program Files
// (x86)" or "Windows": the same path below the user's VirtualStore folder in
// `localAppData`. The folder and drive names match whatever their case, and
// "/" counts as "\". Nullopt for any other path, for one with "." or ".."
// in it, and when `localAppData` or `systemDrive` is empty.
std::optional<std::string> VirtualStorePath(std::string_view path, std::string_view localAppData,
                                            std::string_view systemDrive);

// The operator's own folder for this program on POSIX, from the
// environment: "$XDG_STATE_HOME/VELK_LOG" when XDG_STATE_HOME is an absolute
// path, else "$HOME/.local/state/VELK_LOG"; nullopt when neither is there.
std::optional<std::string> PrivateFolderIn(std::string_view xdgStateHome, std::string_view home);

}  // namespace velk
