// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool type FILE...: the MIME type sniffed from each file's bytes, one per line, as
// `file --mime-type` prints it.
#include "command.h"
#include "imaging/bytes/contenttype.h"

#include <QTextStream>

namespace {

int run(const QStringList& args) {
    if (args.isEmpty())
        return kivo::tool::fail(QStringLiteral("type: no file given"));
    QTextStream out(stdout);
    int status = 0;
    for (const QString& name : args) {
        const auto format = kivo::sniffFormat(kivo::filePathFromText(name));
        if (!format) {
            out.flush();
            status = kivo::tool::fail(
                QStringLiteral("%1: %2").arg(name, kivo::tool::why(format.failure())));
            continue;
        }
        if (args.size() > 1)
            out << name << ": ";
        out << (*format)->mimeType << '\n';
    }
    return status;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("type"), {QStringLiteral("FILE..."), run});

} // namespace
