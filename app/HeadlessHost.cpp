#include "app/HeadlessHost.h"

#include "language/UiTexts.h"
#include "resources/EmbeddedResources.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace pelotest {

void HeadlessHost::liveFoldersUnwatched(const std::vector<std::string>& folders) {
    std::lock_guard lock(unwatchedMutex_);
    std::string lines;
    for (const std::string& folder : folders)
        if (std::find(unwatched_.begin(), unwatched_.end(), folder) == unwatched_.end())
            lines += "pelotest: live reload cannot watch " + folder +
                     "; its changes reload no page until it can\n";
    for (const std::string& folder : unwatched_)
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            lines += "pelotest: live reload watches " + folder.substr(0, folder.rfind(" (")) +
                     " again\n";
    unwatched_ = folders;
    notices_ << lines << std::flush;
}

Rgb HeadlessHost::color(ColorRole role) const {
    switch (role) {
    case ColorRole::ButtonFace:
        return {0xD4, 0xD0, 0xC8};
    case ColorRole::WindowText:
        return {0x00, 0x00, 0x00};
    case ColorRole::ButtonShadow:
        return {0x80, 0x80, 0x80};
    case ColorRole::ButtonHighlight:
        return {0xFF, 0xFF, 0xFF};
    case ColorRole::WindowBackground:
        return {0xFF, 0xFF, 0xFF};
    case ColorRole::ButtonText:
        return {0x00, 0x00, 0x00};
    case ColorRole::GrayText:
        return {0x80, 0x80, 0x80};
    }
    return {};
}

// The pictures come from tools/make_pictures.py, like every other built-in picture.
IconPixels HeadlessHost::messageIcon(MessageIcon icon) const {
    const char* name = icon == MessageIcon::Error         ? "message-error.rgba"
                       : icon == MessageIcon::Information ? "message-information.rgba"
                                                          : "message-warning.rgba";
    const resources::Resource* found = resources::find(name);
    IconPixels pixels{};
    // Every icon is built in with the size of IconPixels, so a miss is a fault of the program.
    if (found == nullptr || found->bytes.size() != pixels.size())
        throw std::logic_error("no built-in picture " + std::string(name));
    std::copy(found->bytes.begin(), found->bytes.end(), pixels.begin());
    return pixels;
}

std::string HeadlessHost::caption() const {
    return loadUiText(state_, UiText::WindowTitle);
}

} // namespace pelotest
