// SPDX-License-Identifier: GPL-3.0-or-later
// Metadata rows per file, in process, against exiftool -fast and exiv2 -pa reading the same
// files in one batch each. Usage: bench_metadata [FOLDER] (default: the corpus's exif-samples/jpg).

#include "imaging/filepath.h"
#include "imaging/source.h"
#include "panels/metadata.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <vector>

namespace {

// The corpus lies beside the project folder; the executable sits in build/<preset>/bench.
QString defaultFolder() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../../../../shared/corpus/exif-samples/jpg"));
}

// Wall time of one batch run of a reference tool over every file, in milliseconds.
double runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600'000))
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : defaultFolder();
    QStringList files;
    QDirIterator it(folder, {"*.jpg", "*.jpeg", "*.JPG"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    QTextStream out(stdout);
    if (files.isEmpty()) {
        out << "no JPEG files under " << folder << '\n';
        return 1;
    }

    // Warm the page cache and the libraries once, as the references also run warm.
    qsizetype rows = 0;
    for (const QString& file : files)
        rows += kivo::extractMetadata(kivo::filePathFromText(file)).size();
    constexpr int kRounds = 20;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < kRounds; ++round)
        for (const QString& file : files)
            rows += kivo::extractMetadata(kivo::filePathFromText(file)).size();
    const double ours = double(timer.nsecsElapsed()) / 1e3 / double(kRounds * files.size());

    // Where the time goes: opening the source (type sniffing) and reading its properties.
    timer.restart();
    for (int round = 0; round < kRounds; ++round)
        for (const QString& file : files)
            rows += kivo::ImageSource::open(kivo::filePathFromText(file)).ok();
    const double opening = double(timer.nsecsElapsed()) / 1e3 / double(kRounds * files.size());
    std::vector<kivo::ImageSource> sources;
    for (const QString& file : files)
        if (auto source = kivo::ImageSource::open(kivo::filePathFromText(file)))
            sources.push_back(*source);
    timer.restart();
    for (int round = 0; round < kRounds; ++round)
        for (const kivo::ImageSource& source : sources)
            rows += source.properties().ok();
    const double reading = double(timer.nsecsElapsed()) / 1e3 / double(kRounds * sources.size());

    out << files.size() << " files from " << QDir::cleanPath(folder) << '\n';
    out << QString::asprintf("extractMetadata     %8.1f us/file (in process, %d rounds)\n", ours,
                             kRounds);
    out << QString::asprintf("  of which ImageSource::open %.1f us, properties() %.1f us\n",
                             opening, reading);
    const auto reference = [&](const char* name, const QString& program, QStringList args) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            out << name << ": not installed\n";
            return;
        }
        runTool(program, args + files); // warm
        const double total = runTool(program, args + files);
        const double perFile = total * 1e3 / double(files.size());
        out << QString::asprintf("%-19s %8.1f us/file (one batch, process start included); "
                                 "extractMetadata is %.0fx faster\n",
                                 name, perFile, perFile / ours);
    };
    reference("exiftool -fast", QStringLiteral("exiftool"), {"-fast", "-q", "-q"});
    reference("exiv2 -pa", QStringLiteral("exiv2"), {"-pa", "-q"});
    return rows > 0 ? 0 : 1;
}
