#include "metadata.h"

#include <QFileInfo>
#include <QLocale>

namespace kivo {

QList<MetadataEntry> extractMetadata(const FilePath& path) {
    QList<MetadataEntry> rows;
    const QFileInfo info(displayPath(path));
    if (info.exists())
        rows.append({QStringLiteral("File Size"),
                     QLocale::c().formattedDataSize(info.size(), 1, QLocale::DataSizeSIFormat)});
    return rows;
}

} // namespace kivo
