// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool mime-types: the MIME types the viewer opens, one a line, the primary type of each
// format followed by the aliases file managers use. The build writes them into the desktop entry
// and the AppStream metainfo, so the file associations follow the format table.
#include "command.h"
#include "imaging/formats.h"

#include <QTextStream>

namespace {

int run(const QStringList& args) {
    if (!args.isEmpty())
        return kivo::tool::fail(QStringLiteral("mime-types: takes no arguments"));
    QTextStream out(stdout);
    for (const QString& type : kivo::supportedMimeTypes())
        out << type << '\n';
    return 0;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("mime-types"), {QString(), run});

} // namespace
