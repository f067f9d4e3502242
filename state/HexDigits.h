#pragma once
// Hexadecimal digits, as escapes and percent-encoding write them.

#include <string>

namespace pelotest {

// The value of a hexadecimal digit (either case), or -1 for any other byte.
int hexDigit(char c);
// Appends byte as two upper-case hexadecimal digits.
void appendHexByte(std::string& out, unsigned char byte);

} // namespace pelotest
