#include "desktop/QtHost.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QStyle>

#include <utility>

namespace pelotest::desktop {
namespace {

Rgb rgbOf(const QColor& color) {
    return {static_cast<std::uint8_t>(color.red()), static_cast<std::uint8_t>(color.green()),
            static_cast<std::uint8_t>(color.blue())};
}

IconPixels pixelsOf(QStyle::StandardPixmap which) {
    const QImage image = QApplication::style()
                             ->standardIcon(which)
                             .pixmap(32, 32)
                             .toImage()
                             .scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGBA8888);
    IconPixels pixels{};
    for (int y = 0; y < 32; ++y) {
        const uchar* line = image.constScanLine(y);
        std::copy(line, line + 32 * 4, pixels.begin() + y * 32 * 4);
    }
    return pixels;
}

} // namespace

QtHost::QtHost(HostWindow& window, QObject* parent) : QObject(parent), window_(window) {
    refreshAppearance();
    qApp->installEventFilter(this);
}

QtHost::~QtHost() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void QtHost::refreshAppearance() {
    const QPalette palette = QApplication::palette();
    std::array<Rgb, 7> colors{};
    colors[static_cast<std::size_t>(ColorRole::ButtonFace)] =
        rgbOf(palette.color(QPalette::Button));
    colors[static_cast<std::size_t>(ColorRole::WindowText)] =
        rgbOf(palette.color(QPalette::WindowText));
    colors[static_cast<std::size_t>(ColorRole::ButtonShadow)] =
        rgbOf(palette.color(QPalette::Dark));
    colors[static_cast<std::size_t>(ColorRole::ButtonHighlight)] =
        rgbOf(palette.color(QPalette::Light));
    colors[static_cast<std::size_t>(ColorRole::WindowBackground)] =
        rgbOf(palette.color(QPalette::Base));
    colors[static_cast<std::size_t>(ColorRole::ButtonText)] =
        rgbOf(palette.color(QPalette::ButtonText));
    colors[static_cast<std::size_t>(ColorRole::GrayText)] =
        rgbOf(palette.color(QPalette::Disabled, QPalette::Text));
    std::array<IconPixels, 3> icons{};
    icons[static_cast<std::size_t>(MessageIcon::Warning)] = pixelsOf(QStyle::SP_MessageBoxWarning);
    icons[static_cast<std::size_t>(MessageIcon::Error)] = pixelsOf(QStyle::SP_MessageBoxCritical);
    icons[static_cast<std::size_t>(MessageIcon::Information)] =
        pixelsOf(QStyle::SP_MessageBoxInformation);
    std::lock_guard lock(mutex_);
    colors_ = colors;
    icons_ = icons;
}

bool QtHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp &&
        (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::StyleChange))
        refreshAppearance();
    return QObject::eventFilter(watched, event);
}

Rgb QtHost::color(ColorRole role) const {
    std::lock_guard lock(mutex_);
    return colors_.at(static_cast<std::size_t>(role));
}

IconPixels QtHost::messageIcon(MessageIcon icon) const {
    std::lock_guard lock(mutex_);
    return icons_.at(static_cast<std::size_t>(icon));
}

std::string QtHost::caption() const {
    std::lock_guard lock(mutex_);
    return caption_;
}

int QtHost::variableColumnWidth() const {
    std::lock_guard lock(mutex_);
    return columnWidth_;
}

void QtHost::setCaption(std::string caption) {
    std::lock_guard lock(mutex_);
    caption_ = std::move(caption);
}

void QtHost::setVariableColumnWidth(int width) {
    std::lock_guard lock(mutex_);
    columnWidth_ = width;
}

void QtHost::applyPlacement(const WindowPlacement& stored) {
    std::lock_guard lock(mutex_);
    loadedPlacement_ = stored;
}

std::optional<WindowPlacement> QtHost::takeLoadedPlacement() {
    std::lock_guard lock(mutex_);
    return std::exchange(loadedPlacement_, std::nullopt);
}

void QtHost::post(Change change) {
    // Already waiting: the window will read the state as it is then, this change included.
    if (pending_[static_cast<std::size_t>(change)].exchange(true))
        return;
    // Posted by name with a plain number: Qt builds and reads the queued call itself, rather than
    // a closure of this file that the poster's thread writes and the window's thread reads.
    QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection,
                              Q_ARG(int, static_cast<int>(change)));
}

void QtHost::deliver(int number) {
    const auto change = static_cast<Change>(number);
    pending_[static_cast<std::size_t>(change)] = false;
    if (!notifying_)
        return;
    switch (change) {
    case Change::Settings:
        emit settingsChangedQueued();
        break;
    case Change::Tree:
        emit treeChangedQueued();
        break;
    case Change::Variables:
        emit variablesChangedQueued();
        break;
    case Change::Log:
        emit logChangedQueued();
        break;
    case Change::LiveStreams:
        emit liveStreamsChangedQueued();
        break;
    }
}

} // namespace pelotest::desktop
