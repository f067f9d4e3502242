#pragma once
// The head of a response (status line, header fields, the blank line) as the listener writes it.
// The fields follow one rule: the content type, then the handler's fields in their order (a
// field set again replaces the earlier one and moves to the end), "Cache-Control: no-store" for a
// generated page that sets none, the Connection field where the version's default does not hold,
// and the length. That is the order Beast's serializer gives for the same message; the direct
// composer writes the text without Beast's field table because it measurably pays
// (docs/architecture.md), and a test holds the two equal.

#include "server/HttpTypes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace pelotest {

// Writes the head of response into head (which keeps its room from one answer to the next).
// contentLength is left out for answers that never have a body (1xx, 204, 304).
void composeResponseHead(const HttpResponse& response, unsigned version, bool keepAlive,
                         std::optional<std::uint64_t> contentLength, std::string& head);

// The two ways composeResponseHead takes, apart. The direct one returns false (and the head is
// then Beast's) when the response needs what only Beast's rules cover: fields that frame the
// message (Connection, Content-Length, Transfer-Encoding) set by the handler, a line break or NUL
// in a field, a status beyond three digits, more fields than it keeps room for.
bool composeResponseHeadDirectly(const HttpResponse& response, unsigned version, bool keepAlive,
                                 std::optional<std::uint64_t> contentLength, std::string& head);
std::string serializeResponseHead(const HttpResponse& response, unsigned version, bool keepAlive,
                                  std::optional<std::uint64_t> contentLength);

} // namespace pelotest
