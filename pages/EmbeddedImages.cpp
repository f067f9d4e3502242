// The pictures compiled into the executable, sent unchanged.

#include "pages/Pages.h"
#include "resources/EmbeddedResources.h"
#include "state/TextCase.h"

#include <stdexcept>
#include <string>

namespace pelotest {

// name is the file name the dispatch derived from the path ("rel.gif", "Img3.gif",
// "favicon.ico"); pictures are looked up without regard to case.
void answerEmbeddedImage(Exchange& ex, std::string_view name) {
    const resources::Resource* found = nullptr;
    for (const resources::Resource& resource : resources::all()) {
        if (equalsIgnoreCase(resource.name, name)) {
            found = &resource;
            break;
        }
    }
    // Every name the dispatch hands over is built in, so a miss is a fault of the program.
    if (found == nullptr)
        throw std::logic_error("no built-in picture " + std::string(name));
    ex.response.contentType = endsWithIgnoreCase(name, ".ico") ? "image/x-icon" : "image/gif";
    ex.response.body.assign(reinterpret_cast<const char*>(found->bytes.data()),
                            found->bytes.size());
}

} // namespace pelotest
