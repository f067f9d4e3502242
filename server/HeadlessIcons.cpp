// TEMPORARY: a plain grey square for every message icon, until the built-in 32x32 pictures of
// the control pages replace this file.

#include "server/HeadlessHost.h"

namespace pelotest {

IconPixels HeadlessHost::messageIcon(MessageIcon) const {
    IconPixels pixels{};
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = pixels[i + 1] = pixels[i + 2] = 0x80;
        pixels[i + 3] = 0xFF;
    }
    return pixels;
}

} // namespace pelotest
