#pragma once
// The style sheet of the built-in pages, built from the host's colour roles.

#include "state/Host.h"

#include <string>

namespace pelotest {

std::string styleSheet(const Host& host);

} // namespace pelotest
