#include "app/HeadlessHost.h"

#include "language/UiTexts.h"

namespace pelotest {

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

std::string HeadlessHost::caption() const {
    return loadUiText(state_, UiText::WindowTitle);
}

} // namespace pelotest
