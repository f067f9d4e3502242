#!/usr/bin/env python3
"""Makes everything that holds the UI texts from their data files (language/texts/*.tsv).

    make_ui_texts.py TEXTS_FOLDER OUTPUT_FOLDER

writes, below OUTPUT_FOLDER (a file whose content stays the same is left untouched, so that
nothing is rebuilt for nothing):
  state/UiTextNames.h       the UiText names (enum) with their notes, and kUiTextCount
  language/BuiltInUiTexts.cpp  the built-in German table (Windows-1252 bytes) and each text's
                               context
  lang/english-texts.rc        the string table of the English library (UTF-8, windres -c 65001)
  lang/lang_full-texts.rc      the string table of the tests' complete library: "EN <id>: " and
                               the German text for every id, 47 too
  lang/export/de-language.rc   what exporting the built-in language writes as language.rc
  lang/export/full-language.rc the same for the tests' complete library
  ui-texts.md                  the translators' list: every id with its context, notes and texts

The two export files are written here independently of the program's export (own escaping, own
encoding), so that the tests compare the program's output with a second opinion.
"""

import pathlib
import re
import sys

CONTEXTS = {
    "window": "Window",
    "html": "Html",
    "attribute": "Attribute",
    "script": "Script",
    "link": "ScriptLink",
    "address": "Address",
}
MAX_TEXT = 259  # characters of one looked-up text
UNUSED_ID = 47


class Text:
    def __init__(self, number, name, context, text, notes):
        self.number = number
        self.name = name
        self.context = context
        self.text = text
        self.notes = notes


def fail(where, why):
    sys.exit(f"{where}: {why}")


def read_table(path, with_context):
    """The texts of one data file by id. Notes ('#' lines) belong to the next text; a blank line
    ends them (so the file's own header is no note)."""
    texts = {}
    names = set()
    notes = []
    columns = 4 if with_context else 3
    for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
        where = f"{path}:{number}"
        if line.endswith("\r"):
            fail(where, "CR LF line end (the files use LF)")
        if not line.strip():
            notes = []
            continue
        if line.startswith("#"):
            notes.append(line[1:].strip())
            continue
        parts = line.split("\t", columns - 1)
        if len(parts) != columns:
            fail(where, f"expected {columns} tab-separated columns")
        if not parts[0].isdigit() or not 1 <= int(parts[0]) <= 0xFFFF:
            fail(where, f"bad id {parts[0]!r}")
        text_id = int(parts[0])
        name = parts[1]
        if not re.fullmatch(r"[A-Z][A-Za-z0-9]*", name):
            fail(where, f"bad name {name!r}")
        context = parts[2] if with_context else None
        if with_context and context not in CONTEXTS:
            fail(where, f"unknown context {context!r} (one of {', '.join(CONTEXTS)})")
        text = parts[-1]
        if "\t" in text:
            fail(where, "a tab in the text")
        try:
            text.encode("cp1252")
        except UnicodeEncodeError as error:
            fail(where, f"a character outside Windows-1252: {error}")
        if text_id in texts or name in names or text_id == UNUSED_ID:
            fail(where, f"id {text_id} or name {name} used twice (or id {UNUSED_ID})")
        names.add(name)
        texts[text_id] = Text(text_id, name, context, text, notes)
        notes = []
    return texts


def c_string(data):
    """A C++ string literal of the bytes. A hex escape would take a hex digit after it as its own,
    so the literal is closed and opened again before one."""
    pieces = ['"']
    after_hex = False
    for byte in data:
        char = chr(byte)
        if after_hex and char in "0123456789abcdefABCDEF":
            pieces.append('" "')
        after_hex = byte >= 0x80
        if byte >= 0x80:
            pieces.append(f"\\x{byte:02X}")
        elif char in '"\\':
            pieces.append("\\" + char)
        elif 0x20 <= byte < 0x7F:
            pieces.append(char)
        else:
            fail("text", f"control character {byte:#x}")
    pieces.append('"')
    return "".join(pieces)


def wrap_comment(text, indent):
    lines = []
    words = text.split()
    line = indent + "//"
    for word in words:
        if len(line) + 1 + len(word) > 100 and line != indent + "//":
            lines.append(line)
            line = indent + "//"
        line += " " + word
    lines.append(line)
    return lines


def names_header(german):
    last = max(german)
    out = [
        "#pragma once",
        "// The names of the UI texts. Made by tools/make_ui_texts.py from language/texts/de.tsv: do",
        "// not edit. Pure names, so that every layer (the state's status texts too) uses them.",
        "",
        "namespace pelotest {",
        "",
        f"inline constexpr int kUiTextCount = {last};",
        "",
        "// What each UI text is for. The values are the ids that language libraries carry (their "
        "string",
        "// table uses the same numbers), so they never change; id 47 is not used.",
        "enum class UiText : int {",
    ]
    for text in german.values():
        for note in text.notes:
            out += wrap_comment(note, "    ")
        out.append(f"    {text.name} = {text.number},")
    out += ["};", "", "} // namespace pelotest", ""]
    return "\n".join(out)


def table_source(german):
    last = max(german)
    out = [
        "// Made by tools/make_ui_texts.py from language/texts/de.tsv: do not edit.",
        '#include "language/BuiltInUiTexts.h"',
        "",
        "namespace pelotest::built_in_texts {",
        "",
        f"const std::array<std::string_view, {last + 1}> kTexts{{",
    ]
    for number in range(last + 1):
        text = german.get(number)
        data = text.text.encode("cp1252") if text else b""
        out.append(f"    /* {number} */ {c_string(data)},")
    out += ["};", "", f"const std::array<TextContext, {last + 1}> kContexts{{"]
    for number in range(last + 1):
        text = german.get(number)
        context = CONTEXTS[text.context] if text else "Window"
        out.append(f"    TextContext::{context}, // {number}")
    out += ["};", "", "} // namespace pelotest::built_in_texts", ""]
    return "\n".join(out)


def rc_string(text):
    """A string of a resource script read as UTF-8: a quote is written "", a backslash \\\\."""
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


def string_table(rows, header):
    out = [f"// {line}" if line else "//" for line in header]
    out += ["// Made by tools/make_ui_texts.py from language/texts/: do not edit.", "STRINGTABLE",
            "BEGIN"]
    out += [f"  {number} {rc_string(text)}" for number, text in rows]
    out += ["END", ""]
    return "\n".join(out)


def exported(text):
    """A text as the export writes it into language.rc: cut, line breaks as "#13", quotes and
    backslashes escaped."""
    data = text.encode("cp1252")[:MAX_TEXT].replace(b"#13", b"\r")
    data = data.replace(b"\r", b"#13").replace(b'"', b"~qt~").replace(b"\\", b"~sl~")
    return data.replace(b"~qt~", b'\\"').replace(b"~sl~", b"\\\\")


def export_script(texts_by_id, last):
    lines = [b"STRINGTABLE", b"BEGIN"]
    for number in range(1, last + 1):
        lines.append(str(number).encode() + b' , "' + exported(texts_by_id.get(number, "")) + b'"')
    lines += [b"END", b"lang_bmp RCDATA lang_new.bmp"]
    return b"\r\n".join(lines)


def markdown_cell(text):
    return text.replace("|", "\\|")


def translators_list(german, english):
    out = [
        "# The UI texts",
        "",
        "Made by tools/make_ui_texts.py from language/texts/. Every text a language library can",
        "replace, by id, with where it stands (see the translators' guide, docs/language-libraries.md,",
        "for what each context allows) and the German and English texts.",
        "",
        "| Id | Name | Context | Notes | German | English |",
        "|---|---|---|---|---|---|",
    ]
    for number, text in german.items():
        notes = " ".join(text.notes)
        out.append(
            f"| {number} | {text.name} | {text.context} | {markdown_cell(notes)} | "
            f"`{markdown_cell(text.text)}` | `{markdown_cell(english[number].text)}` |")
    out.append("")
    return "\n".join(out)


def write(path, content):
    data = content if isinstance(content, bytes) else content.encode("utf-8")
    if path.exists() and path.read_bytes() == data:
        return
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source = pathlib.Path(sys.argv[1])
    output = pathlib.Path(sys.argv[2])
    german = dict(sorted(read_table(source / "de.tsv", True).items()))
    english = read_table(source / "en.tsv", False)
    for number, text in german.items():
        if number not in english:
            fail(source / "en.tsv", f"no English text for {number} {text.name}")
        if english[number].name != text.name:
            fail(source / "en.tsv", f"id {number} is {text.name} in de.tsv")
    for number in english:
        if number not in german:
            fail(source / "en.tsv", f"id {number} has no German text")
    last = max(german)

    write(output / "state/UiTextNames.h", names_header(german))
    write(output / "language/BuiltInUiTexts.cpp", table_source(german))
    write(output / "lang/english-texts.rc",
          string_table([(n, english[n].text) for n in german],
                       ["The English texts of lang_en.dll (UTF-8, windres -c 65001)."]))
    full = {n: f"EN {n}: {german[n].text}" if n in german else f"EN {n}: unused"
            for n in range(1, last + 1)}
    write(output / "lang/lang_full-texts.rc",
          string_table(full.items(), [
              f"The tests' complete library: every id 1 to {last} ({UNUSED_ID} too) as "
              '"EN <id>: " and the German text, so', "that each text can be told from the "
              "built-in one and still carries its markup (UTF-8, windres -c 65001)."]))
    write(output / "lang/export/de-language.rc",
          export_script({n: t.text for n, t in german.items()}, last))
    write(output / "lang/export/full-language.rc", export_script(full, last))
    write(output / "ui-texts.md", translators_list(german, english))


if __name__ == "__main__":
    main()
