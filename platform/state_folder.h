#pragma once
// Where a program keeps files of its own for the user who runs it, such as
// the logs of its runs. One implementation per OS.

#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The user's folder for program state: %LOCALAPPDATA% on Windows;
// $XDG_STATE_HOME, by default ~/.local/state, elsewhere; run as root on a
// user's behalf (pkexec, sudo, which leave no XDG_STATE_HOME), that user's
// ~/.local/state rather than root's. Empty when the environment names none.
std::filesystem::path userStateFolder();

// Where data installed for the program `name` is looked for after its own
// folders, in order: on Linux $XDG_DATA_HOME/name (by default, or where that
// is not an absolute path, ~/.local/share/name; run as root on a user's
// behalf, that user's) and then /usr/share/name; none on Windows, where the
// data lies beside the program.
struct DataFolder {
    std::string described;  // as a manual names it: "$XDG_DATA_HOME/name (by default ...)"
    std::filesystem::path path;
};
std::vector<DataFolder> installedDataFolders(const std::string& name);

}  // namespace platform
