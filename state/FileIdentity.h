#pragma once
// The identity of a file (platform/Files.h defines it): the caches of pages, templates, language
// libraries and settings values remember what they read by it.

#include "platform/Files.h"

#include <optional>
#include <string>

namespace pelotest {

// The identity of the regular file at path (links followed); nullopt for anything else or when it
// cannot be looked at.
std::optional<FileIdentity> regularFileIdentity(const std::string& path);

} // namespace pelotest
