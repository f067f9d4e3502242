#include "desktop/Text.h"

#include "language/UiTexts.h"

#include <QDir>
#include <QFile>

#include <array>

namespace pelotest::desktop {
namespace {

// Windows-1252 at 0x80-0x9F; 0 marks the five bytes without a character (they pass as the C1
// control of the same number, so every byte still reads back as itself).
constexpr std::array<char16_t, 32> kHighTable = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t characterOf(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0 && kHighTable[byte - 0x80] != 0)
        return kHighTable[byte - 0x80];
    return byte;
}

} // namespace

QString fromWindows1252(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes)
        text.append(QChar(characterOf(static_cast<unsigned char>(c))));
    return text;
}

std::string toWindows1252(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes += static_cast<char>(u);
            continue;
        }
        char out = '?';
        for (std::size_t i = 0; i < kHighTable.size(); ++i)
            if (kHighTable[i] == u || (kHighTable[i] == 0 && u == 0x80 + i))
                out = static_cast<char>(0x80 + i);
        bytes += out;
    }
    return bytes;
}

QString fromSiteBytes(std::string_view bytes, std::size_t limit) {
    if (bytes.size() > limit) {
        std::size_t end = limit;
        // A valid UTF-8 text is cut before a character's lead byte, so that it stays valid.
        if (isValidUtf8(bytes))
            while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
                --end;
        bytes = bytes.substr(0, end);
    }
    return QString::fromStdString(displayText(bytes));
}

std::string toSiteBytes(const QString& text, SiteEncoding encoding) {
    return siteBytes(text.toStdString(), encoding);
}

QString fromPathBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string toPathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString absolutePath(const QString& path) {
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(path));
}

QString uiText(const AppState& state, UiText id) {
    return withLineBreaks(fromWindows1252(loadUiText(state, id)));
}

QString withLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString uiTextWith(const AppState& state, UiText id, const QString& arg) {
    return withLineBreaks(uiText(state, id).replace(QLatin1String("%1"), arg));
}

TextLookup coreTexts(const AppState& state) {
    return [&state](int id) { return loadUiText(state, UiText{id}); };
}

QString bindFailureText(const AppState& state, BindFailure failure, int port,
                        const QString& detail) {
    const UiText why = failure == BindFailure::InUse        ? UiText::PortInUse
                       : failure == BindFailure::Privileged ? UiText::PortPrivileged
                                                            : UiText::PortNotServed;
    return uiTextWith(state, why, QString::number(port)) + QStringLiteral("\n\n") + detail;
}

} // namespace pelotest::desktop
