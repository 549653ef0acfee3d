// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTransform>
#include <memory>
#include <vector>

namespace kivo::test {

// A preference store of the test's own, in a temporary INI file, so no test reads or writes the
// user's settings.
class PrivateSettings {
public:
    PrivateSettings();
    QSettings& settings() { return *settings_; }
    QSettings* operator->() { return settings_.get(); }
    QSettings* get() { return settings_.get(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<QSettings> settings_;
};

// A temporary folder holding one small JPEG per name, each a flat colour of its own so a test
// can tell which one it sees.
class PhotoFolder {
public:
    explicit PhotoFolder(const QStringList& names);
    void write(const QString& name, const QColor& colour);
    FilePath path(const QString& name) const;
    QString text(const QString& name) const { return dir_.filePath(name); }
    std::vector<FilePath> paths(const QStringList& names) const;

private:
    QTemporaryDir dir_;
};

// Small real-world files kept with the project's tests (tests/data: PngSuite, with its licence),
// so their checks run on every clone.
QString testDataPath(const QString& relative);

// The folder of real-world files shared by the project's tests (cameras, phones, test suites):
// $KIVO_CORPUS_DIR when set, else the shared folder beside the project.
QString corpusDir();
QString corpusPath(const QString& relative);
// Empty when corpusPath(relative) exists; else the line a skipped test reports.
QString corpusMissing(const QString& relative);

// Skips the calling test function when a corpus file or folder is absent, so a clone of the
// project alone passes. Where the corpus must be there (CI sets KIVO_CORPUS_REQUIRED), a missing
// file fails instead, so a broken path cannot silently turn the corpus tests off.
#define KIVO_REQUIRE_CORPUS(relative)                                                              \
    do {                                                                                           \
        if (const QString kivoMissing = kivo::test::corpusMissing(relative);                       \
            !kivoMissing.isEmpty()) {                                                              \
            if (qEnvironmentVariableIsSet("KIVO_CORPUS_REQUIRED"))                                 \
                QFAIL(qPrintable(kivoMissing));                                                    \
            QSKIP(qPrintable(kivoMissing));                                                        \
        }                                                                                          \
    } while (false)

// A file's whole contents ("<missing>" when it cannot be read), and writing them.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

// Writes an image with Qt's encoder for `format` ("jpeg", "png", ...). Fails the test on error.
bool writeImage(const QImage& image, const QString& path, const char* format, int quality = 90);

// The largest difference between two colours in red, green or blue.
int colourDistance(const QColor& a, const QColor& b);

// A picture whose four quadrants are red, green, blue and white (top-left, top-right,
// bottom-left, bottom-right), so a test can tell which way up it is shown.
QImage quadrantImage(int width, int height);

// How a viewer shows a stored picture whose EXIF orientation is `orientation` (1 to 8), as a Qt
// transform of the stored pixels.
QTransform shownForOrientation(int orientation);

// Sets EXIF/XMP tags with exiv2 (keys such as "Exif.Image.Orientation"); values as exiv2 parses
// text for the tag's type.
bool setExifTags(const QString& path, const QList<QPair<QString, QString>>& tags);

// A TIFF as cameras and scanners write them, with private tags libtiff does not know (PrintIM
// and a maker's own), at `camera`; and, when `damaged` is given, the same file cut in half there.
bool writeCameraTiffs(const QString& camera, const QString& damaged = {});

// Lets the decodes running on `pool` finish and hands their results over, including the work
// those results start in turn (a picture's full resolution after its first level).
inline void settle(QThreadPool& pool) {
    for (int round = 0; round < 4; ++round) {
        pool.waitForDone();
        QCoreApplication::sendPostedEvents();
    }
}

// Runs `testFunction` of this test program again in a real X server of its own (xvfb-run),
// under openbox when `windowManager` is set, with its own HOME; the run sees KIVO_ON_X_SERVER.
// Empty when it passed, else why not (its output). Skips the test when the tools are missing
// or when already on that X server.
#define KIVO_RERUN_ON_X_SERVER(testFunction, windowManager)                                        \
    do {                                                                                           \
        if (qEnvironmentVariableIsSet("KIVO_ON_X_SERVER"))                                         \
            QSKIP("already running on the X server");                                              \
        if (!kivo::test::xServerToolsInstalled())                                                  \
            QSKIP("xvfb-run, openbox and wmctrl are needed");                                      \
        const QByteArray kivoFailure = kivo::test::rerunOnXServer(testFunction, windowManager);    \
        QVERIFY2(kivoFailure.isEmpty(), kivoFailure.constData());                                  \
    } while (false)
bool xServerToolsInstalled();
QByteArray rerunOnXServer(const QString& testFunction, bool windowManager);

} // namespace kivo::test
