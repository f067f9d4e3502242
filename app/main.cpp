// Program start: the desktop window, or with --headless the same server without a window
// (app/HeadlessRun). For translators, --list-languages and --export-language work without a
// window and leave the settings file alone (app/TranslatorCommands).

#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/TranslatorCommands.h"
#include "app/WindowStart.h"

#include <iostream>
#include <variant>

#ifndef PELOTEST_VERSION
#define PELOTEST_VERSION "0.0.0"
#endif

using namespace pelotest;

int main(int argc, char** argv) {
    auto parsed = parseCommandLine(argc, argv);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "pelotest: " << *error << " (see pelotest --help)\n";
        return 2;
    }
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.version) {
        std::cout << "pelotest " << PELOTEST_VERSION << "\n";
        return 0;
    }
    if (options.listLanguages)
        return listLanguages(options);
    if (options.exportFolder)
        return exportLanguage(options);
    if (!options.headless)
        return runWindow(options, argc, argv);
    return runHeadless(options);
}
