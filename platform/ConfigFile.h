// Velomark's own settings files in the user's configuration folder, shared by the
// DSM and the sources.
#pragma once

#include <filesystem>
#include <string>

// The user's configuration folder: $XDG_CONFIG_HOME (a relative one is ignored, as
// the XDG base-directory convention asks), else ~/.config; empty when neither
// variable is set.
std::filesystem::path UserConfigFolder();

// <configuration folder>/velomark/<name>; empty when there is no folder.
std::filesystem::path VelomarkConfigFile(const char* name);

// Writes the whole file, making its folder. Written aside and renamed over the old
// file, so a reader never sees half a file. False with the reason in *error.
bool WriteConfigFile(const std::filesystem::path& path, const std::string& content,
                     std::string* error);
