// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktopservices.h"

#include "freedesktoptrash.h"
#include "gioapplications.h"
#include "linuxappchooser.h"
#include "linuxfilemanager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace kivo {

namespace {

// QClipboard is the same on every platform Qt runs on, so there is only this implementation.
class QtImageClipboard final : public ImageClipboard {
public:
    void putImage(const QImage& image) override {
        // A fresh QMimeData holding only the picture, so no text or URL of an earlier copy
        // stays behind next to it.
        auto data = std::make_unique<QMimeData>();
        data->setImageData(image);
        QGuiApplication::clipboard()->setMimeData(data.release());
    }
};

} // namespace

std::unique_ptr<DesktopServices>
DesktopServices::createForThisDesktop(const QString& ownApplicationId) {
    auto services = std::make_unique<DesktopServices>();
    services->trash = std::make_unique<FreedesktopTrash>();
    services->clipboard = std::make_unique<QtImageClipboard>();
    services->fileManager = std::make_unique<LinuxFileManager>();
    services->applications = std::make_unique<GioApplicationRegistry>(ownApplicationId);
    services->applicationChooser = std::make_unique<LinuxApplicationChooser>();
    services->displayProfiles = std::make_unique<LinuxDisplayProfiles>();
    services->activation = std::make_unique<LinuxWindowActivation>();
    return services;
}

QString fileUri(const FilePath& file) {
    const QByteArray bytes = QByteArray::fromStdString(file.native());
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}

} // namespace kivo
