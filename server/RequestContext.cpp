#include "server/RequestContext.h"

#include "server/RequestSafety.h"
#include "state/VariableReferences.h"

#include <algorithm>

namespace pelotest {

namespace {

// Appends path with '/' for every backslash (settings written on Windows use '\'; the native
// separator is '/').
void appendNative(std::string& out, std::string_view path) {
    const std::size_t at = out.size();
    out.append(path);
    // Most paths hold no backslash: one fast search instead of a look at every byte.
    if (path.find('\\') != std::string_view::npos)
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), '\\', '/');
}

std::string nativeSeparators(std::string_view path) {
    std::string out;
    appendNative(out, path);
    return out;
}

// Whether native (already with '/') is path with its separators made native.
bool isNativeOf(std::string_view native, std::string_view path) {
    if (native.size() != path.size())
        return false;
    for (std::size_t i = 0; i < path.size(); ++i)
        if (native[i] != (path[i] == '\\' ? '/' : path[i]))
            return false;
    return true;
}

void removeOneTrailingSlash(std::string& path) {
    if (!path.empty() && path.back() == '/')
        path.pop_back();
}

// The templates folder with its variable references replaced. Found rows lend their value
// without their own references; an unknown name expands to nothing and creates no row. A Plain
// row goes one place further down than a row a template references.
std::string expandTemplateFolder(AppState& state, Host* host, const std::string& text)
    REQUIRES(state.mutex) {
    // Most folders hold no reference at all: nothing to look up, mark or place.
    const std::string& before = state.settings.varBefore;
    if (before.empty() || text.find(before) == std::string::npos)
        return text;
    static const ReferencePolicy kTemplateFolder{.markRows = true, .markBelowPassed = 1};
    return expandVariableReferences(state, host, text, kTemplateFolder).text;
}

// Request parameters set variables, so any web page the browser visits can set the values that
// a DynamicPath refers to. A value may choose a folder below the fixed text before the first
// reference (up to and including that text's last separator), never leave it: the expanded
// folder is refused when it no longer begins with that text, or when the part after it holds a
// ".." segment or a NUL byte. Both texts use '/' as the separator.
bool staysInConfiguredFolder(std::string_view configured, std::string_view expanded,
                             std::string_view before) {
    const std::size_t reference = configured.find(before);
    if (expanded == configured || before.empty() || reference == std::string_view::npos)
        return true; // nothing was expanded: the folder is as the user typed it
    const std::string_view literal = configured.substr(0, reference);
    const std::size_t lastSeparator = literal.rfind('/');
    const std::string_view fixed = lastSeparator == std::string_view::npos
                                       ? std::string_view{}
                                       : literal.substr(0, lastSeparator + 1);
    if (expanded.substr(0, fixed.size()) != fixed || expanded.find('\0') != std::string::npos)
        return false;
    return !climbsOut(expanded.substr(fixed.size()));
}

} // namespace

RequestPaths computeRequestPaths(AppState& state, Host* host, std::string_view document) {
    RequestPaths paths;
    appendNative(paths.staticRoot, state.settings.staticPath);
    removeOneTrailingSlash(paths.staticRoot);

    const std::string& dynamicPath = state.settings.dynamicPath;
    paths.templateFolder = expandTemplateFolder(state, host, dynamicPath);
    if (paths.templateFolder.find('\\') != std::string::npos)
        std::replace(paths.templateFolder.begin(), paths.templateFolder.end(), '\\', '/');
    // A folder that a variable moved out of the configured one is no template folder at all (one
    // that no variable changed stays in it).
    if (!isNativeOf(paths.templateFolder, dynamicPath) &&
        !staysInConfiguredFolder(nativeSeparators(dynamicPath), paths.templateFolder,
                                 nativeSeparators(state.settings.varBefore)))
        paths.templateFolder.clear();
    removeOneTrailingSlash(paths.templateFolder);

    // VirtualPath below StaticRoot, without one separator at either end.
    std::string_view virtualPath = state.settings.virtualPath;
    const auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
    if (!virtualPath.empty() && isSeparator(virtualPath.front()))
        virtualPath.remove_prefix(1);
    if (!virtualPath.empty() && isSeparator(virtualPath.back()))
        virtualPath.remove_suffix(1);
    paths.virtualRoot.reserve(paths.staticRoot.size() + 1 + virtualPath.size());
    paths.virtualRoot.append(paths.staticRoot).append(1, '/');
    appendNative(paths.virtualRoot, virtualPath);

    paths.filePath.reserve(paths.staticRoot.size() + 1 + document.size());
    paths.filePath.append(paths.staticRoot);
    if (document.empty() || (document.front() != '/' && document.front() != '\\'))
        paths.filePath.append(1, '/');
    appendNative(paths.filePath, document);
    return paths;
}

RequestPaths computeRequestPaths(AppState& state, std::string_view document) {
    return computeRequestPaths(state, nullptr, document);
}

} // namespace pelotest
