#pragma once
// The pictures compiled into the executable (generated from resources/generated/ at build time).

#include <cstddef>
#include <span>
#include <string_view>

namespace pelotest::resources {

struct Resource {
    std::string_view name; // file name, e.g. "rel.gif" or "favicon.ico"
    std::span<const unsigned char> bytes;
};

std::span<const Resource> all();
const Resource* find(std::string_view name);

} // namespace pelotest::resources
