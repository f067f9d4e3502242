#include "desktop/Pictures.h"

#include "resources/DesktopPictures.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QStyle>

namespace pelotest::desktop {
namespace {

QImage embeddedImage(const QString& file) {
    const auto* resource = desktop_pictures::find(file.toStdString());
    if (!resource)
        return {};
    QImage image;
    image.loadFromData(resource->bytes.data(), static_cast<int>(resource->bytes.size()), "PNG");
    return image;
}

// The 16x16 picture with magenta as its transparent colour, and the 32x32 one for screens of
// twice the density.
QIcon embeddedIcon(const QString& name) {
    QIcon icon;
    QImage small =
        embeddedImage(name + QStringLiteral(".png")).convertToFormat(QImage::Format_ARGB32);
    if (!small.isNull()) {
        const QRgb magenta = qRgb(255, 0, 255);
        for (int y = 0; y < small.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(small.scanLine(y));
            for (int x = 0; x < small.width(); ++x)
                if (line[x] == magenta)
                    line[x] = qRgba(0, 0, 0, 0);
        }
        icon.addPixmap(QPixmap::fromImage(small));
    }
    const QImage large = embeddedImage(name + QStringLiteral("@2x.png"));
    if (!large.isNull())
        icon.addPixmap(QPixmap::fromImage(large));
    return icon;
}

} // namespace

ImageList::ImageList() {
    for (int i = 0; i < kCount; ++i)
        icons_[static_cast<std::size_t>(i)] = embeddedIcon(QStringLiteral("img%1").arg(i));
    // The warning of a missing page looks like every other warning of the desktop.
    icons_[kWarning] = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
}

QIcon ImageList::icon(int index) const {
    if (index < 0 || index >= kCount)
        return {};
    return icons_[static_cast<std::size_t>(index)];
}

QIcon ImageList::button(const QString& name) {
    return embeddedIcon(name);
}

} // namespace pelotest::desktop
