#include "desktop/Text.h"

#include "language/UiTexts.h"
#include "state/TextCase.h"

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

QString fromPathBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string toPathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

namespace {

// The language library chosen, read under the state lock: requests may change the settings. The
// window's own lock may already hold it on this thread (texts are looked up inside commands and
// while loading), and then it is read as it stands.
std::string chosenLanguage(const AppState& state) NO_THREAD_SAFETY_ANALYSIS {
    if (state.mutex.heldByCurrentThread())
        return state.settings.languageDll;
    const StateLock lock(state.mutex);
    return state.settings.languageDll;
}

} // namespace

QString uiText(const AppState& state, UiText id) {
    return fromWindows1252(loadUiText(state.languageFolders, chosenLanguage(state), id));
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
    return [&state](int id) {
        return loadUiText(state.languageFolders, chosenLanguage(state), UiText{id});
    };
}

QString bindFailureText(BindFailure failure, int port, const QString& detail) {
    QString why;
    switch (failure) {
    case BindFailure::InUse:
        why = QStringLiteral("Der Port %1 wird schon von einem anderen Programm benutzt. Beenden "
                             "Sie es oder wählen Sie einen anderen Port.")
                  .arg(port);
        break;
    case BindFailure::Privileged:
        why = QStringLiteral("Ports unter 1024 darf nur ein Programm mit Administratorrechten "
                             "öffnen. Wählen Sie einen Port ab 1024, z.B. 8080.");
        break;
    case BindFailure::Other:
        why = QStringLiteral("Der Server kann auf Port %1 nicht gestartet werden.").arg(port);
        break;
    }
    return why + QStringLiteral("\n\n") + detail;
}

} // namespace pelotest::desktop
