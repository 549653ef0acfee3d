// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool decode FILE -o OUT.png [--display-profile ICC]: writes the picture the viewer shows
// (upright, in sRGB or converted for a screen with the given profile).
#include "command.h"
#include "imaging/decode.h"
#include "imaging/formats.h"

#include <QFile>
#include <QImageWriter>

namespace {

int run(QStringList args) {
    kivo::DisplayProfile target;
    if (const qsizetype at = args.indexOf(QStringLiteral("--display-profile"));
        at >= 0 && at + 1 < args.size()) {
        QFile file(args[at + 1]);
        if (!file.open(QIODevice::ReadOnly))
            return kivo::tool::fail(
                QStringLiteral("%1: cannot read: %2").arg(args[at + 1], file.errorString()));
        // A profile that is refused leaves sRGB, as in the viewer; the reason goes to the log.
        target = kivo::DisplayProfile::fromIcc(file.read(4 * 1024 * 1024 + 1), args[at + 1])
                     .value_or(kivo::DisplayProfile());
        args.remove(at, 2);
    }
    if (args.size() != 3 || args[1] != QLatin1String("-o"))
        return kivo::tool::fail(
            QStringLiteral("usage: decode FILE -o OUT.png [--display-profile ICC]"));
    const auto image = kivo::decodeImage(kivo::filePathFromText(args[0]), target);
    if (!image)
        return kivo::tool::fail(
            QStringLiteral("%1: %2").arg(args[0], kivo::tool::why(image.failure())));
    QImageWriter writer(args[2]);
    if (writer.format().isEmpty())
        writer.setFormat(kivo::qtFormatName(kivo::formatInfo(kivo::ImageFormat::png)));
    if (!writer.write((*image)->bitmap()))
        return kivo::tool::fail(
            QStringLiteral("%1: cannot write: %2").arg(args[2], writer.errorString()));
    return 0;
}

const kivo::tool::CommandRegistration
    reg(QStringLiteral("decode"), {QStringLiteral("FILE -o OUT.png [--display-profile ICC]"), run});

} // namespace
