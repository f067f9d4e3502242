#include "server/TemplateReferences.h"

#include "state/VariableReferences.h"

namespace pelotest {

std::string expandReferences(AppState& state, Host& host, std::string_view line) {
    static const ReferencePolicy kTemplateLine{.createUnknown = true, .markRows = true};
    return expandVariableReferences(state, &host, line, kTemplateLine).text;
}

} // namespace pelotest
