#pragma once
// The line under the editor that tells when a file was changed and how large it is.

#include "state/AppState.h"

#include <string>

namespace pelotest {

// FileInfoText: "Geändert am ... Uhr − Grösse: ..." with UI texts 55-61, local time.
std::string fileInfoText(const AppState& state, const std::string& filePath);

} // namespace pelotest
