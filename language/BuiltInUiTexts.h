#pragma once
// The built-in German texts and where each stands, made at build time from
// language/texts/de.tsv (tools/make_ui_texts.py); language/UiTexts.h is their interface.

#include "state/UiTextNames.h"

#include <array>
#include <string_view>

namespace pelotest {

// Where a text stands, and so which characters a library's text may not add beyond those of the
// built-in one (each context adds to the one above it):
enum class TextContext {
    Window,     // the window only, as plain text: no markup (tags, entities, quotes, backslashes)
    Html,       // a built-in page, as HTML: the same
    Attribute,  // a page, inside an attribute's value: the same (the browser decodes entities)
    Script,     // inside a script's string: no line break either (it would end the string)
    ScriptLink, // inside a script string of a "javascript:" link: no "%XX" either (the browser
                // decodes it before the script runs)
    Address,    // the address of a link: no scheme but http and https
};

namespace built_in_texts {
// By id; id 0 and 47 are empty. Windows-1252 bytes, "#13" for a line break.
extern const std::array<std::string_view, kUiTextCount + 1> kTexts;
extern const std::array<TextContext, kUiTextCount + 1> kContexts;
} // namespace built_in_texts

} // namespace pelotest
