#pragma once
// The message icons of the built-in pages as JPEG pictures.

#include "state/Host.h"

#include <string>

namespace pelotest {

// The icon drawn onto a 32x32 picture of the background colour, encoded as a baseline colour
// JPEG of quality 60.
std::string messageIconJpeg(const IconPixels& icon, Rgb background);

} // namespace pelotest
