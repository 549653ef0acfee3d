// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a turned file: the tag-only copy changes the orientation and nothing else; the pixel
// path turns exactly and refuses whatever it could not write back whole; and the file is replaced
// atomically, keeping its mode, owner, attributes and ACL.
#include "dngwriter.h"
#include "imaging/write/atomicreplace.h"
#include "imaging/formats.h"
#include "imaging/write/imagewriter.h"
#include "imaging/write/orientationpatch.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <exiv2/exiv2.hpp>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kivo;

namespace {

using Tags = QList<QPair<QString, QString>>;
const QString kExif = QStringLiteral("Exif.Image.Orientation");
const QString kXmp = QStringLiteral("Xmp.tiff.Orientation");

// A tag's value as exiv2 reads it back from the bytes, empty when absent.
QString tag(const QByteArray& bytes, const QString& key) {
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           long(bytes.size()));
    image->readMetadata();
    if (key.startsWith("Xmp.")) {
        const auto it = image->xmpData().findKey(Exiv2::XmpKey(key.toStdString()));
        return it == image->xmpData().end() ? QString() : QString::fromStdString(it->toString());
    }
    const auto it = image->exifData().findKey(Exiv2::ExifKey(key.toStdString()));
    return it == image->exifData().end() ? QString() : QString::fromStdString(it->toString());
}

QByteArray scanData(const QByteArray& jpeg) {
    const auto at = jpegScanOffset(jpeg);
    return at ? jpeg.mid(*at) : QByteArray();
}

QImage decodeStored(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return QImageWriter(&buffer, format).write(image) ? bytes : QByteArray();
}

QImage gradient(int w, int h, QImage::Format format) {
    QImage image(w, h, QImage::Format_RGBA64);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixelColor(x, y,
                                QColor::fromRgba64(quint16(x * 997), quint16(y * 577),
                                                   quint16((x + y) * 131),
                                                   quint16(65535 - x * 300)));
    return image.convertToFormat(format);
}

int byteDifferences(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        count += a[i] != b[i];
    return count;
}

// A TIFF of two 2 x 2 grey pages without orientation tags, by hand: Qt writes single pages.
QByteArray twoPageTiff() {
    using namespace test::tiff;
    QByteArray file("II*\0\0\0\0\0", 8);
    std::uint32_t next = 0; // the second page is written first, for the first to link to it
    for (const char* pixels : {"\xff\x80\x40\x00", "\x00\x40\x80\xff"}) {
        const auto data = std::uint32_t(file.size());
        file += QByteArray(pixels, 4);
        next = appendIfd(file,
                         {entry(256, 3, {2}), entry(257, 3, {2}), entry(258, 3, {8}),
                          entry(259, 3, {1}), entry(262, 3, {1}), entry(273, 4, {data}),
                          entry(278, 3, {2}), entry(279, 4, {4})},
                         next);
    }
    return withFirstIfd(file, next);
}

const QByteArray oldContents = QByteArray("old contents ").repeated(100);
const QByteArray newContents = QByteArray("the new, longer contents ").repeated(4000);

const std::vector<ReplaceStep> allSteps{
    ReplaceStep::create, ReplaceStep::write, ReplaceStep::permissions, ReplaceStep::attributes,
    ReplaceStep::sync,   ReplaceStep::close, ReplaceStep::rename,      ReplaceStep::syncFolder};

QStringList hiddenFiles(const QString& folder) {
    return QDir(folder)
        .entryList(QDir::Files | QDir::Hidden | QDir::System)
        .filter(QRegularExpression("^\\."));
}

// Runs `body` in a child process and returns its wait status; the child's own state (limits,
// identity, a kill) cannot disturb the test process.
template <typename Body> int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// Runs one of the system's attribute tools; its output, or none when it failed.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Everything attached to a file beyond its mode, as getfattr and getfacl show it.
QByteArray attachments(const QString& path) {
    return run("getfattr", {"--absolute-names", "-d", "-m", "-", "-e", "hex", path})
               .value_or("getfattr failed") +
           run("getfacl", {"--absolute-names", "--numeric", path}).value_or("getfacl failed");
}

} // namespace

class TestImageWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString target_;
    FilePath targetPath() const { return filePathFromText(target_); }
    FilePath temporary() const { return hiddenTemporaryPath(targetPath()); }

    QByteArray taggedFile(const QImage& image, const char* format, const Tags& tags,
                          int quality = 90) {
        const QString path = dir_.filePath(QStringLiteral("file.") + format);
        if (!test::writeImage(image, path, format, quality) ||
            (!tags.isEmpty() && !test::setExifTags(path, tags)))
            return {};
        return test::readFile(path);
    }

private Q_SLOTS:
    void jpegGetsTheNewTagAndKeepsEverythingElse() {
        // Tags overwritten in place (Exif alone, or with XMP), an Exif block without the tag
        // (a camera file whose thumbnail offset must survive) and no Exif at all.
        const Tags cases[] = {{{kExif, "1"}, {"Exif.Image.Make", "Kivo"}},
                              {{kExif, "3"}, {kXmp, "3"}},
                              {{"Exif.Image.Make", "Kivo"}, {"Exif.Photo.ISOSpeedRatings", "200"}},
                              {}};
        for (const Tags& tags : cases) {
            const QByteArray before = taggedFile(test::quadrantImage(64, 48), "jpeg", tags);
            const bool hasXmp = tags.contains({kXmp, "3"});
            const auto after = copyWithOrientation(before, formatInfo(ImageFormat::jpeg), 8);
            QVERIFY(after);
            QCOMPARE(tag(*after, kExif), QString("8"));
            QCOMPARE(tag(*after, kXmp), QString(hasXmp ? "8" : ""));
            for (const auto& [key, value] : tags)
                if (key != kExif && key != kXmp)
                    QCOMPARE(tag(*after, key), value);
            QCOMPARE(scanData(*after), scanData(before));
            // Once the tag is there it is patched in place: one byte per copy of it.
            if (storedOrientation(before, formatInfo(ImageFormat::jpeg)))
                QCOMPARE(byteDifferences(before, *after), hasXmp ? 2 : 1);
            const auto again = copyWithOrientation(*after, formatInfo(ImageFormat::jpeg), 6);
            QVERIFY(again);
            QCOMPARE(byteDifferences(*after, *again), hasXmp ? 2 : 1);
        }
    }

    // The tag is added to a TIFF without one, leaving the old structure where it was and a second
    // page in place, then patched in place.
    void tiffTagIsAddedThenPatched() {
        const QByteArray pages = twoPageTiff();
        const auto added = copyWithOrientation(pages, formatInfo(ImageFormat::tiff), 6);
        QVERIFY(added);
        QCOMPARE(tag(*added, kExif), QString("6"));
        QCOMPARE(added->left(4) + added->mid(8, pages.size() - 8), pages.left(4) + pages.mid(8));
        QBuffer buffer;
        buffer.setData(*added);
        QCOMPARE(QImageReader(&buffer, "tiff").imageCount(), 2);
        const auto patched = copyWithOrientation(*added, formatInfo(ImageFormat::tiff), 3);
        QVERIFY(patched);
        QCOMPARE(byteDifferences(*added, *patched), 1);
        QCOMPARE(tag(*patched, kExif), QString("3"));
    }

    // Every tag value in turn and back to the stored one: the scan data never changes, and the
    // file ends byte for byte as it began.
    void corpusJpegsGoThroughEveryTagAndBack() {
        int files = 0;
        KIVO_REQUIRE_CORPUS("orientation");
        KIVO_REQUIRE_CORPUS("exif-samples/jpg");
        for (const QString& folder :
             {test::corpusPath("orientation"), test::corpusPath("exif-samples/jpg")}) {
            for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files)) {
                const QByteArray original = test::readFile(folder + '/' + name);
                const auto stored = storedOrientation(original, formatInfo(ImageFormat::jpeg));
                const std::uint16_t start = stored && *stored >= 1 && *stored <= 8 ? *stored : 1;
                QByteArray current = original;
                for (int step = 1; step <= 8; ++step) {
                    const auto turned = std::uint16_t((start + step - 1) % 8 + 1);
                    const auto next =
                        copyWithOrientation(current, formatInfo(ImageFormat::jpeg), turned);
                    QVERIFY2(next, qPrintable(name));
                    QCOMPARE(tag(*next, kExif), QString::number(turned));
                    QVERIFY2(scanData(*next) == scanData(original), qPrintable(name));
                    current = *next;
                }
                if (stored && *stored == start)
                    QVERIFY2(current == original, qPrintable(name));
                ++files;
            }
        }
        QVERIFY(files >= 30);
    }

    void pixelsAreLaidOutAsTheTagShowsThem() {
        // Each tag against Qt's own transforms, also on a 1-bit picture whose sub-byte pixels
        // must move too.
        for (const QImage& picture :
             {test::quadrantImage(300, 200),
              test::quadrantImage(13, 7).convertToFormat(QImage::Format_Mono)}) {
            const QByteArray png = encoded(picture, "png");
            const QImage stored = decodeStored(png).convertToFormat(QImage::Format_RGB32);
            for (std::uint16_t orientation = 2; orientation <= 8; ++orientation) {
                const auto written =
                    encodeWithOrientationApplied(png, formatInfo(ImageFormat::png), orientation);
                if (!written && picture.depth() == 1) // Qt may not write 1-bit back as it was
                    continue;
                QVERIFY(written);
                const QImage turned = decodeStored(*written).convertToFormat(QImage::Format_RGB32);
                QCOMPARE(turned, stored.transformed(test::shownForOrientation(orientation))
                                     .convertToFormat(QImage::Format_RGB32));
            }
        }
    }

    void turnedFileKeepsWhatItHeld() {
        // Depth, alpha, colour profile and metadata stay; only the orientation tags go, and a
        // lossy WebP is written losslessly.
        QImage deep = gradient(33, 17, QImage::Format_RGBA64);
        QImage clear = gradient(50, 20, QImage::Format_ARGB32);
        deep.setColorSpace(QColorSpace::DisplayP3);
        clear.setColorSpace(QColorSpace::DisplayP3);
        const struct {
            const char* format;
            ImageFormat type;
            QImage image;
            int quality, headerAt; // where the file's own depth is written, or 0
            QByteArray marker;
        } cases[] = {
            {"png", ImageFormat::png, deep, 90, 24, "IHDR"},
            {"webp", ImageFormat::webp, clear, 60, 0, "VP8L"},
            {"bmp", ImageFormat::bmp, gradient(21, 13, QImage::Format_RGB32), 90, 28, "BM"}};
        for (const auto& c : cases) {
            const Tags tags{{kExif, "6"}, {kXmp, "6"}, {"Exif.Image.Make", "Kivo"}};
            const bool hasTags = c.type != ImageFormat::bmp;
            const QByteArray before =
                taggedFile(c.image, c.format, hasTags ? tags : Tags(), c.quality);
            const auto after = encodeWithOrientationApplied(before, formatInfo(c.type), 6);
            QVERIFY2(after && after->contains(c.marker), c.format);
            QCOMPARE(after->mid(c.headerAt, 2), before.mid(c.headerAt, 2));
            const QImage turned = decodeStored(*after);
            QImage expected = decodeStored(before).transformed(QTransform().rotate(90));
            QCOMPARE(turned.format(), expected.format());
            QCOMPARE(turned.colorSpace(), c.image.colorSpace());
            expected.setColorSpace(turned.colorSpace()); // pixels compared alone
            QCOMPARE(turned, expected);
            QCOMPARE(tag(*after, kExif) + tag(*after, kXmp), QString());
            QCOMPARE(tag(*after, "Exif.Image.Make"), QString(hasTags ? "Kivo" : ""));
            if (!hasTags)
                continue;
            // Turned back upright (the stored tag plus the turn gives 1): written as stored, the
            // tag gone. Refusing it left the turn on screen only, lost at the next step.
            const auto upright = encodeWithOrientationApplied(before, formatInfo(c.type), 1);
            QVERIFY2(upright && decodeStored(*upright) == decodeStored(before), c.format);
            QCOMPARE(tag(*upright, kExif) + tag(*upright, "Exif.Image.Make"), QString("Kivo"));
        }
    }

    void whatCannotBeWrittenWholeIsRefused() {
        // No tag writer for the type; several sizes, a bit depth Qt would widen, no writer at
        // all, or nothing to turn.
        for (const ImageFormat type : {ImageFormat::heic, ImageFormat::arw, ImageFormat::rw2})
            QVERIFY(!copyWithOrientation(taggedFile(test::quadrantImage(8, 8), "jpeg", {}),
                                         formatInfo(type), 6));
        const QByteArray ico = encoded(gradient(16, 16, QImage::Format_ARGB32), "ico");
        QVERIFY(encodeWithOrientationApplied(ico, formatInfo(ImageFormat::ico), 6));
        QVERIFY(!encodeWithOrientationApplied(ico, formatInfo(ImageFormat::gif), 6));
        QVERIFY(!encodeWithOrientationApplied(ico, formatInfo(ImageFormat::psd), 6));
        const QByteArray grey = test::readFile(test::testDataPath("pngsuite/png/basn0g02.png"));
        QVERIFY(!encodeWithOrientationApplied(grey, formatInfo(ImageFormat::png), 6)); // 2-bit
        // An icon editor's file of two sizes, as ImageMagick writes it.
        const QString convert = QStandardPaths::findExecutable("convert");
        if (convert.isEmpty())
            QSKIP("ImageMagick is not installed (scripts/setup installs it)");
        const QString icons = dir_.filePath("two.ico");
        QCOMPARE(QProcess::execute(convert, {"-size", "16x16", "xc:red", "(", "+clone", "-resize",
                                             "8x8", ")", icons}),
                 0);
        QVERIFY(
            !encodeWithOrientationApplied(test::readFile(icons), formatInfo(ImageFormat::ico), 6));
    }

    // Replacing a file never leaves it partial or missing: failures at each step, a file-size
    // limit and a process killed between steps. (A folder the user cannot write to: the model's
    // rotation cases in test_fileactions.)
    void init() {
        QVERIFY(dir_.isValid());
        for (const QString& name : QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(dir_.filePath(name));
        target_ = dir_.filePath(QStringLiteral("photo.png"));
        QVERIFY(test::writeFile(target_, oldContents));
    }

    // The mode and owner, and desktop tags, a rating, an ACL and a security label all survive.
    void keepsPermissionsOwnerAttributesAndAcl() {
        const QByteArray target = QFile::encodeName(target_);
        const bool root = ::geteuid() == 0;
        QVERIFY(::chmod(target, 0640) == 0 && (!root || ::chown(target, 1234, 5678) == 0));
        const bool tools = !QStandardPaths::findExecutable("setfattr").isEmpty() &&
                           !QStandardPaths::findExecutable("setfacl").isEmpty();
        if (tools) {
            QVERIFY(run("setfattr", {"-n", "user.xdg.tags", "-v", "holiday,beach", target_}));
            QVERIFY(run("setfattr", {"-n", "user.baloo.rating", "-v", "8", target_}));
            QVERIFY(run("setfacl", {"-m", "u:65534:rw,g:100:r", target_}));
            if (root) // only root may label a file freely
                QVERIFY(run("setfattr", {"-n", "security.kivo", "-v", "label", target_}));
        }
        const QByteArray before = tools ? attachments(target_) : QByteArray();
        QVERIFY2(!tools || (before.contains("user.xdg.tags") && before.contains("user:65534:rw-")),
                 before);
        struct stat was {
        }, now{};
        QVERIFY(::stat(target, &was) == 0);

        QVERIFY(replaceFileAtomically(targetPath(), temporary(), newContents));
        QCOMPARE(test::readFile(target_), newContents);
        QVERIFY(::stat(target, &now) == 0);
        QCOMPARE(now.st_mode, was.st_mode);
        QVERIFY(now.st_uid == was.st_uid && now.st_gid == was.st_gid);
        if (tools)
            QCOMPARE(attachments(target_), before);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
        if (!tools)
            QSKIP("setfattr and setfacl (packages attr and acl) are not installed");
    }

    // A user who is not root keeps the file's group where they belong to it; an attachment the
    // user cannot give the new file, or an owner they cannot keep, leaves the file untouched.
    void userKeepsGroupOrLeavesTheFile_data() {
        QTest::addColumn<uid_t>("owner");
        QTest::addColumn<bool>("labelled");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("own file, a group of ours") << uid_t(65534) << false << true;
        QTest::newRow("security label") << uid_t(65534) << true << false;
        QTest::newRow("another user's file") << uid_t(0) << false << false;
    }
    void userKeepsGroupOrLeavesTheFile() {
        QFETCH(uid_t, owner);
        QFETCH(bool, labelled);
        QFETCH(bool, replaced);
        if (::geteuid() != 0)
            QSKIP("needs root to hand the file to another user");
        const QByteArray target = QFile::encodeName(target_);
        const QByteArray folder = QFile::encodeName(dir_.path());
        constexpr gid_t group = 100;
        QVERIFY(::chown(target, owner, group) == 0 && ::chmod(target, 0664) == 0);
        QVERIFY(::chmod(folder, 0777) == 0);
        if (labelled)
            QVERIFY(::setxattr(target, "security.kivo", "label", 5, 0) == 0);
        const int status = inChild([&] {
            const gid_t groups[] = {group};
            if (::setgroups(1, groups) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                return 4;
            return replaceFileAtomically(targetPath(), temporary(), newContents) ? 0 : 3;
        });
        QVERIFY(::chmod(folder, 0700) == 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), replaced ? 0 : 3);
        QCOMPARE(test::readFile(target_), replaced ? newContents : oldContents);
        struct stat st {};
        QVERIFY(::stat(target, &st) == 0);
        QCOMPARE(st.st_gid, group);
        QCOMPARE(st.st_uid, owner);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
    }

    void failureAtEachStepLeavesTheOriginal() {
        for (const ReplaceStep failing : allSteps) {
            init();
            const bool replaced =
                replaceFileAtomically(targetPath(), temporary(), newContents,
                                      [&](ReplaceStep step) { return step != failing; });
            // After the rename the new file stands; only its durability was at stake.
            const bool renamed = failing == ReplaceStep::syncFolder;
            QVERIFY2(replaced == renamed, qPrintable(QString::number(int(failing))));
            QCOMPARE(test::readFile(target_), renamed ? newContents : oldContents);
            QVERIFY(hiddenFiles(dir_.path()).isEmpty());
        }
    }

    // A file-size limit cuts the real write short (EFBIG), past what the injected failures
    // reach.
    void fileSizeLimitLeavesTheOriginal() {
        const int status = inChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return replaceFileAtomically(targetPath(), temporary(), newContents) ? 0 : 3;
        });
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 3);
        QCOMPARE(test::readFile(target_), oldContents);
        QVERIFY(hiddenFiles(dir_.path()).isEmpty());
    }

    void killedAtEachStepLeavesAWholeFile() {
        for (const ReplaceStep dying : allSteps) {
            init();
            const int status = inChild([&] {
                replaceFileAtomically(targetPath(), temporary(), newContents,
                                      [&](ReplaceStep step) {
                                          if (step == dying)
                                              ::raise(SIGKILL);
                                          return true;
                                      });
                return 0;
            });
            const QString what = QStringLiteral("step %1").arg(int(dying));
            QVERIFY2(WIFSIGNALED(status), qPrintable(what));
            const QByteArray now = test::readFile(target_);
            QVERIFY2(now == oldContents || now == newContents, qPrintable(what));
            QVERIFY2((now == newContents) == (dying == ReplaceStep::syncFolder), qPrintable(what));
            // A killed process cannot clean up: what it leaves is hidden, and whole or partial
            // it is never the image itself.
            QVERIFY2(hiddenFiles(dir_.path()).size() <= 1, qPrintable(what));
        }
    }

    void symbolicLinkIsNotReplaced() {
        const QString link = dir_.filePath(QStringLiteral("link.png"));
        QVERIFY(QFile::link(target_, link));
        QVERIFY(!replaceFileAtomically(filePathFromText(link),
                                       hiddenTemporaryPath(filePathFromText(link)), newContents));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(test::readFile(target_), oldContents);
    }
};

QTEST_GUILESS_MAIN(TestImageWriter)
#include "test_imagewriter.moc"
