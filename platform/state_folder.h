#pragma once
// Where a program keeps files of its own for the user who runs it, such as
// the logs of its runs. One implementation per OS.

#include <filesystem>

namespace platform {

// The user's folder for program state: %LOCALAPPDATA% on Windows;
// $XDG_STATE_HOME, by default ~/.local/state, elsewhere; run as root on a
// user's behalf (pkexec, sudo, which leave no XDG_STATE_HOME), that user's
// ~/.local/state rather than root's. Empty when the environment names none.
std::filesystem::path userStateFolder();

}  // namespace platform
