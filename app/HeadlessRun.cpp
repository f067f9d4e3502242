#include "app/HeadlessRun.h"

#include "app/HeadlessHost.h"
#include "app/InstallLayout.h"
#include "language/UiTexts.h"
#include "pages/Routes.h"
#include "platform/Programs.h"
#include "platform/StopRequests.h"
#include "server/HttpServer.h"
#include "server/OrdinaryRequest.h"
#include "server/PortOwner.h"
#include "server/ServerAddress.h"
#include "state/PersistentState.h"

#include <chrono>
#include <cstdlib>
#include <iostream>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

// How long a stop request waits for requests still being handled, and then for the state.
constexpr std::chrono::seconds kShutdownDeadline{5};
constexpr std::chrono::seconds kLockGrace{1};

// Ends the process at once, without destroying what a request thread may still use.
[[noreturn]] void finishNow(int code) {
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(code);
}

} // namespace

int runHeadless(const Options& options) {
    const fs::path exeFolder = executableFolder();
    AppState state;
    state.settingsPath = settingsPathOf(options, exeFolder);
    state.languageFolders = languageFolders(exeFolder);
    state.runOverrides = options.overrides;
    HeadlessHost host(state);
    // Looked up by loadState and saveState with the state lock held.
    const TextLookup text = [&state](UiText id)
                                REQUIRES(state.mutex) { return loadUiText(state, id); };

    // Taken over before any thread starts, so that no thread of the server is interrupted by a
    // stop request and only the wait below receives it.
    StopRequests stopRequests;

    // A settings file that cannot be read is never written (its content would be lost); one
    // that is read-only is used as it is.
    const SettingsFileCheck settingsFile = checkSettingsFile(state.settingsPath);
    if (settingsFile.access == SettingsAccess::Unusable) {
        std::cerr << "pelotest: cannot use the settings file " << state.settingsPath.string()
                  << ": " << settingsFile.reason << "; it is left as it is\n";
        return 1;
    }
    if (settingsFile.access == SettingsAccess::ReadOnly)
        std::cerr << "pelotest: the settings file " << state.settingsPath.string()
                  << " is used as it is (" << settingsFile.reason
                  << "): changes will not be saved\n";
    {
        const StateLock lock(state.mutex);
        state.settingsReadOnly = settingsFile.access == SettingsAccess::ReadOnly;
    }
    if (const std::string treeError = loadState(state, host, text); !treeError.empty())
        std::cerr << "pelotest: " << state.settingsPath.string() << ": [Tree]: " << treeError
                  << "\n";
    std::string address;
    int port = 0;
    {
        const StateLock lock(state.mutex);
        // Serving a folder for a moment leaves the settings file as it was: nothing of this run
        // is the user's settings.
        if (servesStaticFolderOnly(state))
            state.settingsReadOnly = true;
        address = state.settings.bindAddress;
        port = state.settings.port;
    }
    if (port < 1 || port > 65535) {
        std::cerr << "pelotest: cannot listen: the port " << port << " in "
                  << state.settingsPath.string() << " is not between 1 and 65535\n";
        return 1;
    }

    HttpServer server(std::make_shared<RequestHandler>(state, host, routeRequest));
    try {
        server.start(address, static_cast<std::uint16_t>(port));
    } catch (const std::exception& e) {
        std::cerr << "pelotest: " << e.what();
        // Which program holds the port tells the user what to stop.
        if (const auto inUse = describePortInUse(static_cast<std::uint16_t>(port)))
            std::cerr << ". " << *inUse << "; stop it or choose another port with --port N";
        std::cerr << "\n";
        return 1;
    }
    std::cout << "Listening on " << listeningAddress(address, server.port()) << std::endl;
    if (const auto warning = openToTheNetworkWarning(address))
        std::cerr << "pelotest: " << *warning << std::endl;
    if (options.openBrowser) {
        const std::string url = browserAddress(address, server.port());
        openWithDesktopReporting(url, [url](const std::optional<std::string>& failure) {
            if (failure)
                std::cerr << "pelotest: no browser was started for " << url << " (" << *failure
                          << "); open it in your browser yourself\n";
        });
    }

    stopRequests.wait();

    // No request may change the state after it has been written. A request that is still being
    // handled after the deadline is not waited for: its connection thread keeps the objects it
    // uses, so the process then ends without destroying them.
    const auto deadline = std::chrono::steady_clock::now() + kShutdownDeadline;
    const bool stopped = server.stop(kShutdownDeadline);
    // Every change of a request happens under the state lock: once it is ours, the state is
    // consistent. If a stuck request still holds it, the state may be half changed, and the file
    // keeps what the last save wrote.
    StateLock lock(state.mutex, std::defer_lock);
    if (!lock.tryLockFor(deadline + kLockGrace - std::chrono::steady_clock::now())) {
        std::cerr << "pelotest: a request was still running "
                  << std::chrono::duration_cast<std::chrono::seconds>(kShutdownDeadline).count()
                  << " s after the stop signal; the state was not saved\n";
        finishNow(1);
    }
    if (!stopped)
        std::cerr << "pelotest: a request was still running when the server stopped; the state "
                     "is saved without it\n";
    // saveState runs under the caller's lock.
    std::string failure;
    const bool saved = saveState(state, host, text, &failure);
    if (!saved)
        std::cerr << "pelotest: cannot write the settings file " << state.settingsPath.string()
                  << ": " << failure << "\n";
    stopRequests.finished();
    if (!stopped)
        finishNow(saved ? 0 : 1);
    if (!saved)
        return 1;
    return 0;
}

} // namespace pelotest
