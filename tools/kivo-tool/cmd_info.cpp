// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool info FILE...: the metadata panel's rows, one "label<TAB>value" line each, with a
// blank line between files.

#include "command.h"
#include "imaging/filepath.h"
#include "panels/metadata.h"

#include <QFile>
#include <QTextStream>
#include <filesystem>

namespace {

int info(const QStringList& args) {
    if (args.isEmpty())
        return kivo::tool::fail(QStringLiteral("info: no file given"));
    QTextStream out(stdout);
    int status = 0;
    bool first = true;
    for (const QString& arg : args) {
        const kivo::FilePath path = kivo::filePathFromText(arg);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error) ||
            !QFile(arg).open(QIODevice::ReadOnly)) {
            out.flush();
            status = kivo::tool::fail(QStringLiteral("info: cannot read %1").arg(arg));
            continue;
        }
        if (!first)
            out << '\n';
        first = false;
        for (const kivo::MetadataEntry& row : kivo::extractMetadata(path))
            out << row.label << '\t' << row.value << '\n';
    }
    return status;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("info"),
                                          {QStringLiteral("FILE..."), info});

} // namespace
