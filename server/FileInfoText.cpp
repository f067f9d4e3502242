#include "server/FileInfoText.h"
#include "platform/Calendar.h"

#include "language/UiTexts.h"
#include "server/StaticFiles.h"
#include "state/RegularFile.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <ctime>

namespace pelotest {

namespace {

void appendPadded(std::string& out, int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width)
        out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    out += digits;
}

// The date/time patterns a language may use for the file time: d, dd, m, mm, yy, yyyy, h, hh,
// n, nn, s, ss, text in double or single quotes, anything else copied. As usual for such
// patterns, "m" right after an hour stands for minutes.
std::string formatDateTime(std::string_view pattern, const std::tm& t) {
    std::string out;
    bool afterHour = false;
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        const char lower = foldCase(c);
        if (c == '"' || c == '\'') {
            const std::size_t close = pattern.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
            out.append(pattern.substr(i + 1, end - i - 1));
            i = end == pattern.size() ? end : end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && foldCase(pattern[i + run]) == lower)
            ++run;
        switch (lower) {
        case 'd':
            appendPadded(out, t.tm_mday, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'm':
            if (afterHour)
                appendPadded(out, t.tm_min, run >= 2 ? 2 : 1);
            else
                appendPadded(out, t.tm_mon + 1, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 'y':
            if (run >= 3)
                appendPadded(out, t.tm_year + 1900, 4);
            else
                appendPadded(out, (t.tm_year + 1900) % 100, 2);
            afterHour = false;
            break;
        case 'h':
            appendPadded(out, t.tm_hour, run >= 2 ? 2 : 1);
            afterHour = true;
            break;
        case 'n':
            appendPadded(out, t.tm_min, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        case 's':
            appendPadded(out, t.tm_sec, run >= 2 ? 2 : 1);
            afterHour = false;
            break;
        default:
            out.append(pattern.substr(i, run));
            i += run;
            continue; // literal text keeps the "minutes after hour" reading
        }
        i += run;
    }
    return out;
}

} // namespace

std::string fileInfoText(const LanguageTexts& texts, const std::string& filePath) {
    std::string date = texts.text(UiText::FileInfoUnknownDate);
    std::string size = texts.text(UiText::FileInfoUnknownSize);

    if (const RegularFile file(filePath); file.isOpen()) {
        const FileStamp stamp = stampOf(file.identity());
        const std::time_t seconds = static_cast<std::time_t>(stamp.modifiedSeconds);
        std::tm local{};
        localCalendarTime(seconds, local);
        date = replaceAll(formatDateTime(texts.text(UiText::FileInfoDateFormat), local), " ",
                          texts.text(UiText::FileInfoDateBlank));
        size = std::to_string(static_cast<unsigned long long>(stamp.size)) +
               texts.text(UiText::FileInfoByteUnit);
    }
    return texts.text(UiText::FileInfoChangedOn) + date + texts.text(UiText::FileInfoSizeLabel) +
           size;
}

} // namespace pelotest
