#include "desktop/LanguageSupport.h"

#include "desktop/Text.h"
#include "language/UiTexts.h"
#include "server/Encoders.h"

#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QPixmap>
#include <QStringList>
#include <QTranslator>

#ifndef PELOTEST_VERSION
#define PELOTEST_VERSION "0.0.0"
#endif

namespace pelotest::desktop {
namespace {

std::string colourValue(const QColor& colour) {
    return QStringLiteral("#%1%2%3")
        .arg(colour.red(), 2, 16, QLatin1Char('0'))
        .arg(colour.green(), 2, 16, QLatin1Char('0'))
        .arg(colour.blue(), 2, 16, QLatin1Char('0'))
        .toUpper()
        .toStdString();
}

} // namespace

QIcon flagIcon(std::string_view bitmap) {
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(bitmap.data()),
                            static_cast<int>(bitmap.size()), "BMP"))
        return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    if (image.width() > 0 && image.height() > 14)
        pixmap.setMask(
            QBitmap::fromImage(image.createMaskFromColor(image.pixel(0, 14), Qt::MaskInColor)));
    return QIcon(pixmap);
}

QString downloadHost(const StateCommands& commands) {
    QString host =
        QString::fromStdString(commands.fileKey("Const", "DownloadURL", kDefaultDownloadUrl));
    if (host.isEmpty())
        host = QString::fromLatin1(kDefaultDownloadUrl.data(),
                                   static_cast<qsizetype>(kDefaultDownloadUrl.size()));
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    return host;
}

void followLanguageInQtTexts(const AppState& state) {
    auto* translator = qApp->findChild<QTranslator*>(QStringLiteral("QtTexts"));
    if (translator) {
        QCoreApplication::removeTranslator(translator);
    } else {
        translator = new QTranslator(qApp);
        translator->setObjectName(QStringLiteral("QtTexts"));
    }
    const QString code = uiText(state, UiText::LanguageCode).trimmed().toLower();
    // Dates, sizes and file types (the properties dialog, Qt's file dialog) in the chosen
    // language too, not in the system's.
    const QLocale chosen(code);
    QLocale::setDefault(code.isEmpty() || chosen.language() == QLocale::C ? QLocale::system()
                                                                          : chosen);
    if (!code.isEmpty() && translator->load(QStringLiteral("qtbase_") + code,
                                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

QString fileVersion() {
    QStringList parts = QString::fromLatin1(PELOTEST_VERSION).split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts << QStringLiteral("0");
    return parts.mid(0, 4).join(QLatin1Char('.'));
}

QUrl pageAddress(const AppState& state, const QString& host, const QString& kind,
                 const std::string& languageDll, const QString& fontFamily, int fontPointSize) {
    const QPalette palette = QApplication::palette();
    std::string query =
        "?Lang=" + loadUiText(state.languageFolders, languageDll, UiText::LanguageCode);
    query += "&App=PeloTest";
    query += "&Ver=" + urlEncode(fileVersion().toStdString());
    const std::pair<const char*, QPalette::ColorRole> colours[] = {
        {"clWindow", QPalette::Base},    {"clWindowText", QPalette::WindowText},
        {"clBtnFace", QPalette::Button}, {"clBtnHighlight", QPalette::Light},
        {"clBtnShadow", QPalette::Dark}, {"clBtnText", QPalette::ButtonText},
    };
    for (const auto& [key, role] : colours)
        query += std::string("&") + key + "=" + urlEncode(colourValue(palette.color(role)));
    query += "&winFont=" + urlEncode(fontFamily.toLatin1().toStdString());
    query += "&winFontSize=" + std::to_string(fontPointSize);
    // The query is already encoded as the maker's pages expect it; QUrl must keep it as it is.
    return QUrl(host + QStringLiteral("/download/additional/") + kind + QStringLiteral(".php") +
                    QString::fromLatin1(query),
                QUrl::TolerantMode);
}

} // namespace pelotest::desktop
