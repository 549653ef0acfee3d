// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool decode FILE -o OUT.png: writes the picture the viewer shows (upright, sRGB).
#include "command.h"
#include "imaging/decode.h"
#include "imaging/formats.h"

#include <QImageWriter>

namespace {

int run(const QStringList& args) {
    if (args.size() != 3 || args[1] != QLatin1String("-o"))
        return kivo::tool::fail(QStringLiteral("usage: decode FILE -o OUT.png"));
    const auto image = kivo::decodeImage(kivo::filePathFromText(args[0]));
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

const kivo::tool::CommandRegistration reg(QStringLiteral("decode"),
                                          {QStringLiteral("FILE -o OUT.png"), run});

} // namespace
