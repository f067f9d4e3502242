#pragma once
// Text from language libraries and file names as a terminal shows it: UTF-8, with every control
// character escaped ("\x1b"), so that what a library brings is printed, never obeyed by the
// terminal (an escape sequence could clear it, set its title or fake other output).

#include <string>
#include <string_view>

namespace pelotest {

// Windows-1252 bytes (display names) as UTF-8.
std::string terminalText(std::string_view bytes);

// A file name as the file system holds it (UTF-8 as a rule): valid UTF-8 passes; control
// characters (C1 ones included, as UTF-8 encodes them) and bytes that are no UTF-8 (an encoded
// surrogate or an overlong form included) are escaped byte by byte.
std::string terminalFileName(std::string_view bytes);

} // namespace pelotest
