// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool thumbnail FILE... -o DIR: writes each file's strip thumbnail as DIR/<name>.png,
// made through the same cache and background decoding the viewer uses.

#include "command.h"
#include "imaging/filepath.h"
#include "imaging/tasks/workerpools.h"
#include "thumbnails/thumbnailcache.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

namespace {

int thumbnail(const QStringList& args) {
    QStringList files;
    QString outputDir;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("-o") && i + 1 < args.size())
            outputDir = args[++i];
        else
            files.append(args[i]);
    }
    if (files.isEmpty() || outputDir.isEmpty())
        return kivo::tool::fail(QStringLiteral("thumbnail: usage: thumbnail FILE... -o DIR"));
    if (!QDir().mkpath(outputDir))
        return kivo::tool::fail(QStringLiteral("thumbnail: cannot create %1").arg(outputDir));

    kivo::WorkerPools pools;
    kivo::ThumbnailCache cache(pools.thumbnails);
    QEventLoop loop;
    qsizetype pending = files.size();
    int status = 0;
    for (const QString& file : files) {
        const QString target =
            QDir(outputDir).filePath(QFileInfo(file).completeBaseName() + QStringLiteral(".png"));
        cache.requestThumbnail(
            kivo::filePathFromText(file), &loop, [&, file, target](std::optional<QImage> image) {
                if (!image)
                    status =
                        kivo::tool::fail(QStringLiteral("thumbnail: cannot read %1").arg(file));
                else if (!image->save(target, "PNG"))
                    status =
                        kivo::tool::fail(QStringLiteral("thumbnail: cannot write %1").arg(target));
                if (--pending == 0)
                    loop.quit();
            });
    }
    if (pending > 0)
        loop.exec();
    return status;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("thumbnail"),
                                          {QStringLiteral("FILE... -o DIR"), thumbnail});

} // namespace
