#include "desktop/Text.h"

#include "language/UiTexts.h"
#include "state/TextCase.h"

#include <QDir>
#include <QFile>

namespace pelotest::desktop {

QString fromWindows1252(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes)
        text.append(QChar(utf16FromWindows1252(c)));
    return text;
}

std::string toWindows1252(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text)
        bytes += windows1252FromUtf16Unit(c.unicode()).value_or('?');
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

namespace {

// The language library chosen, read under the state lock: requests may change the settings.
std::string chosenLanguage(const AppState& state) EXCLUDES(state.mutex) {
    const StateLock lock(state.mutex);
    return state.settings.languageDll;
}

} // namespace

QString absolutePath(const QString& path) {
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(path));
}

QString uiText(const AppState& state, UiText id) {
    return withLineBreaks(
        fromWindows1252(loadUiText(state.languageFolders, chosenLanguage(state), id)));
}

QString withLineBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString uiTextWith(const AppState& state, UiText id, const QString& arg) {
    return withLineBreaks(uiText(state, id).replace(QLatin1String("%1"), arg));
}

QString wrappedTip(const QString& text) {
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}

TextLookup coreTexts(const AppState& state) {
    return [&state](UiText id) REQUIRES(state.mutex) { return loadUiText(state, id); };
}

QString bindFailureText(const AppState& state, BindFailure failure, int port, const QString& detail,
                        const QString& holder) {
    const UiText why = failure == BindFailure::InUse        ? UiText::PortInUse
                       : failure == BindFailure::Privileged ? UiText::PortPrivileged
                                                            : UiText::PortNotServed;
    QString text = uiTextWith(state, why, QString::number(port));
    // A text of its own rather than a second placeholder in the first, so that a library whose
    // text for the port in use knows only the port still reads whole.
    if (!holder.isEmpty())
        text += QLatin1Char(' ') + uiTextWith(state, UiText::PortHolder, holder);
    return text + QStringLiteral("\n\n") + detail;
}

} // namespace pelotest::desktop
