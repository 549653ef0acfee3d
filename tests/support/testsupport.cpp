// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <exiv2/exiv2.hpp>

namespace kivo::test {

PrivateSettings::PrivateSettings()
    : settings_(std::make_unique<QSettings>(dir_.filePath(QStringLiteral("settings.ini")),
                                            QSettings::IniFormat)) {}

PhotoFolder::PhotoFolder(const QStringList& names) {
    for (int i = 0; i < names.size(); ++i)
        write(names[i], QColor::fromHsv(i * 67 % 360, 255, 255));
}

void PhotoFolder::write(const QString& name, const QColor& colour) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(writeImage(image, dir_.filePath(name), "jpeg"));
}

FilePath PhotoFolder::path(const QString& name) const {
    return filePathFromText(dir_.filePath(name));
}

std::vector<FilePath> PhotoFolder::paths(const QStringList& names) const {
    std::vector<FilePath> out;
    for (const QString& name : names)
        out.push_back(path(name));
    return out;
}

QString testDataPath(const QString& relative) {
    return QStringLiteral(KIVO_SOURCE_DIR "/tests/data/") + relative;
}

QString corpusDir() {
    const QString fromEnvironment = qEnvironmentVariable("KIVO_CORPUS_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral(KIVO_CORPUS_DIR) : fromEnvironment;
}

QString corpusPath(const QString& relative) {
    return corpusDir() + QLatin1Char('/') + relative;
}

QString corpusMissing(const QString& relative) {
    if (QFileInfo::exists(corpusPath(relative)))
        return {};
    return QStringLiteral("corpus file %1 not found in %2; set KIVO_CORPUS_DIR to run this test")
        .arg(relative, corpusDir());
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool writeImage(const QImage& image, const QString& path, const char* format, int quality) {
    QImageWriter writer(path, format);
    writer.setQuality(quality);
    return writer.write(image);
}

int colourDistance(const QColor& a, const QColor& b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

QImage quadrantImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    const int hw = width / 2, hh = height / 2;
    p.fillRect(0, 0, hw, hh, Qt::red);
    p.fillRect(hw, 0, width - hw, hh, Qt::green);
    p.fillRect(0, hh, hw, height - hh, Qt::blue);
    p.fillRect(hw, hh, width - hw, height - hh, Qt::white);
    return image;
}

QTransform shownForOrientation(int orientation) {
    switch (orientation) {
    case 2:
        return QTransform(-1, 0, 0, 1, 0, 0);
    case 3:
        return QTransform().rotate(180);
    case 4:
        return QTransform(1, 0, 0, -1, 0, 0);
    case 5:
        return QTransform(0, 1, 1, 0, 0, 0);
    case 6:
        return QTransform().rotate(90);
    case 7:
        return QTransform(0, -1, -1, 0, 0, 0);
    case 8:
        return QTransform().rotate(270);
    default:
        return {};
    }
}

bool setExifTags(const QString& path, const QList<QPair<QString, QString>>& tags) {
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        for (const auto& [key, value] : tags) {
            const std::string k = key.toStdString();
            if (key.startsWith(QLatin1String("Xmp.")))
                image->xmpData()[k] = value.toStdString();
            else
                image->exifData()[k] = value.toStdString();
        }
        image->writeMetadata();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool writeCameraTiffs(const QString& camera, const QString& damaged) {
    if (!writeImage(quadrantImage(64, 48), camera, "tiff") ||
        !setExifTags(camera, {{"Exif.Image.Make", "Kivo Camera Works"},
                              {"Exif.Image.PrintImageMatching", "80 114 105 109"},
                              {"Exif.Image.0xc7f1", "7"}}))
        return false;
    return damaged.isEmpty() ||
           (QFile::copy(camera, damaged) && QFile::resize(damaged, QFileInfo(camera).size() / 2));
}

bool xServerToolsInstalled() {
    for (const char* program : {"xvfb-run", "openbox", "wmctrl"})
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return false;
    return true;
}

QByteArray rerunOnXServer(const QString& testFunction, bool windowManager) {
    const QString waitForManager =
        QStringLiteral("openbox --sm-disable --startup 'touch managed' & for i in $(seq 100); do "
                       "[ -e managed ] && break; sleep 0.1; done; [ -e managed ] || exit 3; ");
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("HOME", home.path());
    environment.insert("KIVO_ON_X_SERVER", "1");
    QProcess test;
    test.setProcessEnvironment(environment);
    test.setWorkingDirectory(home.path());
    test.setProcessChannelMode(QProcess::MergedChannels);
    test.start("xvfb-run", {"-a", "-s", "-screen 0 1280x1024x24", "sh", "-c",
                            (windowManager ? waitForManager : QString()) + "exec \"$0\" \"$1\"",
                            QCoreApplication::applicationFilePath(), testFunction});
    if (!test.waitForFinished(120000))
        return "did not finish";
    const QByteArray output = test.readAll();
    return test.exitStatus() == QProcess::NormalExit && test.exitCode() == 0 ? QByteArray()
           : output.isEmpty()                                                ? QByteArray("failed")
                                                                             : output;
}

} // namespace kivo::test
