// kivo-tool type FILE...: the content type sniffed from each file's bytes, one per line.
#include "command.h"
#include "imaging/contenttype.h"

#include <QFileInfo>
#include <QTextStream>

namespace {

int run(const QStringList& args) {
    if (args.isEmpty())
        return kivo::tool::fail(QStringLiteral("type: no file given"));
    QTextStream out(stdout);
    int status = 0;
    for (const QString& name : args) {
        const auto type = kivo::sniffContentType(kivo::filePathFromText(name));
        if (!type) {
            out.flush();
            status = kivo::tool::fail(
                QFileInfo::exists(name)
                    ? QStringLiteral("%1: not an image this viewer can read").arg(name)
                    : QStringLiteral("%1: cannot read the file").arg(name));
            continue;
        }
        if (args.size() > 1)
            out << name << ": ";
        out << *type << '\n';
    }
    return status;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("type"), {QStringLiteral("FILE..."), run});

} // namespace
