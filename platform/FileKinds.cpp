#include "platform/Files.h"

namespace pelotest {

std::optional<std::string> notARegularFile(FileKind kind) {
    switch (kind) {
    case FileKind::Regular:
        return std::nullopt;
    case FileKind::Link:
        return "it is a link (only a regular file is written, never what a link leads to)";
    case FileKind::Folder:
        return errorText(std::make_error_code(std::errc::is_a_directory));
    case FileKind::Fifo:
        return "it is a FIFO, not a regular file";
    case FileKind::Device:
        return "it is a device, not a regular file";
    case FileKind::Missing:
    case FileKind::Other:
        break;
    }
    return "it is not a regular file";
}

} // namespace pelotest
