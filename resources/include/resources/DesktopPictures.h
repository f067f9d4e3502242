#pragma once
// The desktop's pictures compiled into the executable (resources/generated/desktop/): "img0.png"
// to "img19.png", "btn1.png", "infobt.png", "infosm.png" at 16x16 with magenta as the transparent
// colour, and each also as "NAME@2x.png" at 32x32 with an alpha channel.

#include "resources/EmbeddedResources.h"

#include <span>
#include <string_view>

namespace pelotest::desktop_pictures {

using Resource = resources::Resource;

std::span<const Resource> all();
const Resource* find(std::string_view name);

} // namespace pelotest::desktop_pictures
