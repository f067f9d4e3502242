#pragma once
// The server's own answers to an ordinary request that names no template: a static file, the site
// root and the not-found page. Each fills ex.response with the state locked.

#include "server/RequestContext.h"
#include "state/FileIdentity.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace pelotest {

// A file of at most kSmallFile bytes as the file cache holds it; nullptr for a larger one or
// one that cannot be read (the answer then reports it). Needs no state.
inline constexpr std::uint64_t kSmallFile = 64 * 1024;
// identity, when given, is the file's as it was just looked up.
std::shared_ptr<const CachedFile> readSmallFile(const std::string& file,
                                                const FileIdentity* identity = nullptr);

// A file of more than kSmallFile bytes: opened, and a page's title read; nullopt when it cannot be
// opened (the answer then reports it). Needs no state.
std::optional<LargeServableFile> lookAtLargeFile(const std::string& file,
                                                 const std::string& filePath);

void answerStaticFile(Exchange& ex) REQUIRES(ex.state.mutex); // FilePath is an existing file
void answerSiteRoot(Exchange& ex) REQUIRES(ex.state.mutex);   // FilePath == StaticRoot + "/"
void answerNotFound(Exchange& ex) REQUIRES(ex.state.mutex);   // 404 page

} // namespace pelotest
