// SPDX-License-Identifier: GPL-3.0-or-later
// kivo-tool props FILE: the property dictionary of the file's first image, as callers get it.
#include "command.h"
#include "imaging/source.h"

#include <QFileInfo>
#include <QTextStream>

namespace {

QString valueText(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList items;
        for (const QVariant& item : value.toList())
            items << item.toString();
        return QLatin1Char('(') + items.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    return value.toString();
}

// Keys in order, one per line; sub-dictionaries indented under their key.
void print(QTextStream& out, const QVariantMap& map, int indent) {
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        out << QString(indent, QLatin1Char(' ')) << it.key();
        if (it.value().typeId() == QMetaType::QVariantMap) {
            out << ":\n";
            print(out, it.value().toMap(), indent + 2);
        } else {
            out << " = " << valueText(it.value()) << '\n';
        }
    }
}

int run(const QStringList& args) {
    if (args.size() != 1)
        return kivo::tool::fail(QStringLiteral("usage: props FILE"));
    const auto source = kivo::ImageSource::open(kivo::filePathFromText(args[0]));
    if (!source)
        return kivo::tool::fail(
            QStringLiteral("%1: %2").arg(args[0], kivo::tool::why(source.failure())));
    const auto properties = source->properties();
    if (!properties)
        return kivo::tool::fail(
            QStringLiteral("%1: %2").arg(args[0], kivo::tool::why(properties.failure())));
    QTextStream out(stdout);
    out << "ContentType = " << source->contentType() << '\n';
    print(out, *properties, 0);
    return 0;
}

const kivo::tool::CommandRegistration reg(QStringLiteral("props"), {QStringLiteral("FILE"), run});

} // namespace
