#pragma once
// The line under the editor that tells when a file was changed and how large it is.

#include "language/UiTexts.h"

#include <string>

namespace pelotest {

// FileInfoText: "Geändert am ... Uhr − Grösse: ..." with the FileInfo UI texts, local
// time.
std::string fileInfoText(const LanguageTexts& texts, const std::string& filePath);

} // namespace pelotest
