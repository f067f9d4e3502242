#include "app/InstallLayout.h"

#include "platform/ProgramFolders.h"

namespace fs = std::filesystem;

namespace pelotest {

namespace {

// The settings file beside the executable when that folder is writable and not an installed
// program's, else in the user's settings folder (created when missing).
fs::path defaultSettingsPath(const fs::path& exeFolder) {
    const fs::path name = settingsFileNameBeside(runningExecutable());
    if (!isInstalled(exeFolder) && folderIsWritable(exeFolder))
        return exeFolder / name;
    const fs::path folder = userSettingsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder / name;
}

} // namespace

fs::path executableFolder() {
    const fs::path self = runningExecutable();
    if (self.empty())
        return fs::current_path();
    const fs::path folder = self.parent_path();
    if (folder.filename() == "pelotest" && folder.parent_path().filename() == "libexec")
        return folder.parent_path().parent_path() / "bin";
    return folder;
}

// An installed program (a package's /usr/bin, or a prefix's bin/ beside share/pelotest) keeps
// nothing beside its executable: that folder belongs to the system, also when it is writable
// (as it is for root). A program run from its build or unpacked folder keeps its files there, as
// does pelotest.exe on Windows, whose installer puts everything in one folder of the user's.
bool isInstalled(const fs::path& exeFolder) {
    if (exeFolder.filename() != "bin")
        return false;
    std::error_code ec;
    return exeFolder.string().starts_with("/usr/") || exeFolder == "/bin" ||
           fs::is_directory(exeFolder.parent_path() / "share" / "pelotest", ec);
}

fs::path settingsPathOf(const Options& options, const fs::path& exeFolder) {
    return options.settings ? fs::absolute(*options.settings) : defaultSettingsPath(exeFolder);
}

std::vector<fs::path> languageFolders(const fs::path& exeFolder) {
    const fs::path userLanguages = userDataFolder() / "languages";
    if (!isInstalled(exeFolder))
        return {exeFolder, userLanguages};
    return {userLanguages,
            (exeFolder.parent_path() / "share" / "pelotest" / "languages").lexically_normal()};
}

} // namespace pelotest
