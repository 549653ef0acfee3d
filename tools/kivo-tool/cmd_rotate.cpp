// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool rotate FILE +1|-1: turns a file as the viewer's rotate buttons do and says how.
#include "command.h"
#include "imaging/bytes/contenttype.h"
#include "imaging/write/turnedfile.h"

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
    const kivo::FilePath file = kivo::filePathFromText(path);
    const auto format = kivo::sniffFormat(file);
    const auto method = format ? kivo::turnMethodFor(**format) : std::nullopt;
    kivo::Failure why;
    if (!format) {
        why = format.failure();
    } else if (!method) {
        why = {kivo::FailureReason::unsupported,
               QStringLiteral("%1 can only be turned on screen").arg(QString((*format)->name))};
    } else {
        const auto written = kivo::writeTurnedFile(file, turns, *method);
        if (written) {
            QTextStream(stdout) << (*written == kivo::TurnMethod::tagPatch ? "tag\n" : "pixels\n");
            return 0;
        }
        why = written.failure();
    }
    QString reason = QString::fromLatin1(kivo::reasonName(why.reason));
    if (!why.message.isEmpty())
        reason += QStringLiteral(": ") + why.message;
    QTextStream(stdout) << "not rewritten: " << reason << '\n';
    return kivo::tool::fail(QStringLiteral("%1 was not rewritten: %2").arg(path, reason));
}

const kivo::tool::CommandRegistration reg(QStringLiteral("rotate"),
                                          {QStringLiteral("FILE +1|-1"), run});

} // namespace
