// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool histogram FILE: the histogram panel's counts, three lines of 256 numbers (red,
// green, blue).

#include "command.h"
#include "imaging/decode.h"
#include "panels/histogram.h"

#include <QTextStream>

namespace {

int histogram(const QStringList& args) {
    if (args.size() != 1)
        return kivo::tool::fail(QStringLiteral("histogram: usage: histogram FILE"));
    const auto image = kivo::decodeImage(kivo::filePathFromText(args.front()));
    if (!image)
        return kivo::tool::fail(QStringLiteral("histogram: %1: %2")
                                    .arg(args.front(), kivo::reasonName(image.reason())));
    const auto data = kivo::computeHistogram(**image);
    if (!data)
        return kivo::tool::fail(QStringLiteral("histogram: no pixels in %1").arg(args.front()));
    QTextStream out(stdout);
    for (const auto* channel : {&data->red, &data->green, &data->blue}) {
        for (std::size_t v = 0; v < channel->size(); ++v)
            out << (v ? " " : "") << (*channel)[v];
        out << '\n';
    }
    return 0;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("histogram"),
                                          {QStringLiteral("FILE"), histogram});

} // namespace
