#pragma once
// Starting other programs: the desktop's program for a URL or a file, and the window program.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace pelotest {

// Opens target (a URL or a file) with the desktop's program for it, without waiting for that
// program: it runs on its own, its output discarded, and outlives this one. On Linux the opener is
// xdg-open, or the command that PELOTEST_OPENER names; on Windows the shell's association.
// Returns why it could not be started, nullopt when it was.
std::optional<std::string> openWithDesktop(const std::string& target);

// Opens target as openWithDesktop does and then tells whether a program took it: reported gets
// nullopt when the opener ended with success, else why nothing was started (the opener is missing
// or failed; xdg-open fails when the desktop has no browser). On Linux reported runs on a thread
// of its own, since some openers run as long as the program they start; on Windows, where the
// shell answers at once, before this returns.
void openWithDesktopReporting(const std::string& target,
                              std::function<void(const std::optional<std::string>&)> reported);

// Whether this process runs as the system's superuser (root on Linux). Some programs it starts
// refuse that, such as the embedded browser's helper with its sandbox on. Never on Windows, where
// they do not.
bool runsAsSuperuser();

// Runs program with this process's arguments (argv[0] replaced by the program's path) in place of
// this process: on Linux the process becomes it; on Windows it is started with the same console and
// this process ends with its exit code. Returns only when it could not be started, with the reason.
std::string replaceProcessWith(const std::filesystem::path& program, int argc, char** argv);

} // namespace pelotest
