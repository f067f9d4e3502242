#include "app/CommandLine.h"

#include "platform/Network.h"

#include <charconv>
#include <system_error>

namespace pelotest {

namespace fs = std::filesystem;

const std::string_view kUsage =
    "Usage: pelotest [--headless] [--settings FILE]\n"
    "       pelotest --tray [--settings FILE]\n"
    "       pelotest --headless --static DIR [--port N] [--bind ADDRESS] [--open]\n"
    "       pelotest --list-languages [--settings FILE]\n"
    "       pelotest --export-language DIR [--language FILE] [--settings FILE]\n"
    "       pelotest --help | --version\n"
    "\n"
    "  (no option)            open the window on the settings file\n"
    "  --headless             serve without a window until SIGINT or SIGTERM\n"
    "  --tray                 open the window hidden in the notification area, server on\n"
    "  --settings FILE        use FILE as the settings file\n"
    "For this run only (never written into the settings file):\n"
    "  --port N               listen on port N (1 to 65535)\n"
    "  --bind ADDRESS         listen on this IP address (0.0.0.0: all networks)\n"
    "  --static DIR           serve the static files of folder DIR; without a templates\n"
    "                         folder (--templates or the settings) as a plain file server:\n"
    "                         folders answer with index.htm/index.html, a missing file\n"
    "                         with 404, and the settings file is left as it is\n"
    "  --templates DIR        take the templates from folder DIR\n"
    "  --virtual NAME         use NAME as the virtual folder\n"
    "  --open                 open the start page in the browser (--headless)\n"
    "  --live-reload          reload open pages when their files change\n"
    "For translators:\n"
    "  --list-languages       print the languages: file name, a tab, display name\n"
    "  --export-language DIR  write the translator's template into DIR\n"
    "  --language FILE        export FILE's template instead (\"\": built-in)\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE"; nullopt when arg is not that
// option. Sets missing when the value is absent.
std::optional<std::string> optionValue(std::string_view name, int argc, char** argv, int& i,
                                       bool& missing) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            missing = true;
            return std::string();
        }
        return std::string(argv[++i]);
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
    return std::nullopt;
}

bool isIpAddress(const std::string& text) {
    return isAddressLiteral(text, AddressFamily::IPv4) ||
           isAddressLiteral(text, AddressFamily::IPv6);
}

// The error line for a value that names no existing folder; else nullopt, with the folder made
// absolute in place.
std::optional<std::string> checkFolder(std::string_view option, std::string& value) {
    if (value.empty())
        return std::string(option) + " needs a folder";
    std::error_code ec;
    if (!fs::is_directory(value, ec))
        return std::string(option) + ": the folder " + value +
               (fs::exists(value, ec) ? " is no folder" : " does not exist");
    value = fs::absolute(value, ec).lexically_normal().string();
    if (value.size() > 1 && value.back() == '/')
        value.pop_back();
    return std::nullopt;
}

} // namespace

std::variant<Options, std::string> parseCommandLine(int argc, char** argv) {
    Options options;
    RunOverrides& run = options.overrides;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool missing = false;
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--list-languages") {
            options.listLanguages = true;
        } else if (arg == "--tray") {
            options.tray = true;
        } else if (arg == "--open") {
            options.openBrowser = true;
        } else if (arg == "--live-reload") {
            run.liveReload = true;
        } else if (auto value = optionValue("--settings", argc, argv, i, missing)) {
            if (missing || value->empty())
                return "--settings needs a file name";
            options.settings = *value;
        } else if (auto folder = optionValue("--export-language", argc, argv, i, missing)) {
            if (missing || folder->empty())
                return "--export-language needs a folder";
            options.exportFolder = *folder;
        } else if (auto language = optionValue("--language", argc, argv, i, missing)) {
            if (missing)
                return "--language needs a library file name (\"\" for the built-in language)";
            options.language = *language;
        } else if (auto port = optionValue("--port", argc, argv, i, missing)) {
            int number = 0;
            const char* end = port->data() + port->size();
            const auto parsed = std::from_chars(port->data(), end, number);
            if (missing || port->empty())
                return "--port needs a number";
            if (parsed.ec == std::errc::result_out_of_range ||
                (parsed.ec == std::errc() && parsed.ptr == end && (number < 1 || number > 65535)))
                return "--port " + *port + " is out of range: a port is 1 to 65535";
            if (parsed.ec != std::errc() || parsed.ptr != end)
                return "--port needs a number, not \"" + *port + "\"";
            run.port = number;
        } else if (auto address = optionValue("--bind", argc, argv, i, missing)) {
            if (missing || address->empty())
                return "--bind needs an IP address";
            if (!isIpAddress(*address))
                return "--bind needs an IP address such as 127.0.0.1 or 0.0.0.0, not \"" +
                       *address + "\"";
            run.bindAddress = *address;
        } else if (auto name = optionValue("--virtual", argc, argv, i, missing)) {
            if (missing || name->empty())
                return "--virtual needs a folder name";
            run.virtualPath = *name;
        } else if (auto staticDir = optionValue("--static", argc, argv, i, missing)) {
            if (auto error = checkFolder("--static", *staticDir))
                return *error;
            run.staticPath = *staticDir;
        } else if (auto templates = optionValue("--templates", argc, argv, i, missing)) {
            if (auto error = checkFolder("--templates", *templates))
                return *error;
            run.templateFolder = *templates;
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    if (options.language && !options.exportFolder)
        return "--language goes with --export-language";
    if (options.listLanguages + options.exportFolder.has_value() + options.headless > 1)
        return "--headless, --list-languages and --export-language exclude each other";
    if (options.tray && (options.headless || options.listLanguages || options.exportFolder))
        return "--tray goes with the window, not with --headless, --list-languages or "
               "--export-language";
    if (options.openBrowser && !options.headless)
        return "--open goes with --headless";
    return options;
}

} // namespace pelotest
