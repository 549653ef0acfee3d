// SPDX-License-Identifier: GPL-3.0-or-later
#include "command.h"

#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>

namespace kivo::tool {

std::map<QString, Command>& commands() {
    static std::map<QString, Command> registry;
    return registry;
}

int fail(const QString& message) {
    QTextStream(stderr) << "kivo-tool: " << message << '\n';
    return 1;
}

QString why(const Failure& failure) {
    QString line = QString::fromLatin1(reasonName(failure.reason));
    if (!failure.message.isEmpty())
        line += QStringLiteral(" (%1)").arg(QString(failure.message).replace(u'\n', u' '));
    return line;
}

} // namespace kivo::tool

namespace {

void printUsage(QTextStream& stream) {
    stream << "usage: kivo-tool <command> [arguments]\n"
              "       kivo-tool --help | --version\n\n"
              "Kivo's image services without a window. Commands:\n";
    for (const auto& [name, command] : kivo::tool::commands())
        stream << "  kivo-tool " << name << ' ' << command.usage << '\n';
}

} // namespace

int main(int argc, char** argv) {
    // Image plugins and colour conversion need a GUI application, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && args.front() == QLatin1String("--help")) {
        QTextStream out(stdout);
        printUsage(out);
        return 0;
    }
    if (args.size() == 1 && args.front() == QLatin1String("--version")) {
        QTextStream(stdout) << "kivo-tool " << KIVO_VERSION << '\n';
        return 0;
    }
    auto& commands = kivo::tool::commands();
    if (args.isEmpty() || !commands.count(args.front())) {
        QTextStream err(stderr);
        printUsage(err);
        return 2;
    }
    const QString name = args.takeFirst();
    return commands.at(name).run(args);
}
