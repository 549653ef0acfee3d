// kivo-tool rotate FILE +1|-1: turns a file as the viewer's rotate buttons do and says how.
#include "command.h"
#include "model/rotation.h"

#include <QFileInfo>
#include <QTextStream>

namespace {

int run(const QStringList& args) {
    if (args.size() != 2 || (args[1] != QLatin1String("+1") && args[1] != QLatin1String("-1") &&
                             args[1] != QLatin1String("1")))
        return kivo::tool::fail(QStringLiteral("usage: rotate FILE +1|-1"));
    const QString& path = args[0];
    if (!QFileInfo(path).isReadable())
        return kivo::tool::fail(QStringLiteral("cannot read %1").arg(path));
    const int turns = args[1] == QLatin1String("-1") ? -1 : 1;
    switch (kivo::saveRotatedFile(kivo::filePathFromText(path), turns)) {
    case kivo::RotationOutcome::tagRewritten:
        QTextStream(stdout) << "tag\n";
        return 0;
    case kivo::RotationOutcome::pixelsRewritten:
        QTextStream(stdout) << "pixels\n";
        return 0;
    case kivo::RotationOutcome::notRewritten:
        break;
    }
    QTextStream(stdout) << "not rewritten\n";
    return kivo::tool::fail(QStringLiteral("%1 was not rewritten").arg(path));
}

const kivo::tool::CommandRegistration reg(QStringLiteral("rotate"),
                                          {QStringLiteral("FILE +1|-1"), run});

} // namespace
