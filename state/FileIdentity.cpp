#include "state/FileIdentity.h"

namespace pelotest {

std::optional<FileIdentity> regularFileIdentity(const std::string& path) {
    std::error_code error;
    const FileStatus status = statusOf(path, Links::Follow, error);
    if (status.kind != FileKind::Regular)
        return std::nullopt;
    return status.identity;
}

} // namespace pelotest
