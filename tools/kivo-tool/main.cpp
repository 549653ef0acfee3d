// SPDX-License-Identifier: GPL-3.0-or-later
#include "command.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTextStream>
#include <cstdio>
#include <cstring>

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

// Qt's own messages (QStandardPaths on a machine without XDG_RUNTIME_DIR, the platform plugin)
// say nothing about the command's result: under kivo.tool they are silent unless enabled.
Q_LOGGING_CATEGORY(lcTool, "kivo.tool", QtWarningMsg)

QtMessageHandler qtDefaultHandler = nullptr;

// Our own categories print as Qt would; everything else becomes a debug message of kivo.tool.
// A fatal message is the one line the command fails with, and Qt ends the process after it.
void routeQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        kivo::tool::fail(QString(text).replace(u'\n', u' '));
        return;
    }
    if (context.category && std::strncmp(context.category, "kivo.", 5) == 0) {
        qtDefaultHandler(type, context, text);
        return;
    }
    if (!lcTool().isDebugEnabled())
        return;
    const QMessageLogContext routed(context.file, context.line, context.function,
                                    lcTool().categoryName());
    const bool named = context.category && std::strcmp(context.category, "default") != 0;
    qtDefaultHandler(QtDebugMsg, routed,
                     named ? QString::fromLatin1(context.category) + QStringLiteral(": ") + text
                           : text);
}

void printUsage(QTextStream& stream) {
    stream << "usage: kivo-tool <command> [arguments]\n"
              "       kivo-tool --help | --version\n\n"
              "Kivo's image services without a window. Commands:\n";
    for (const auto& [name, command] : kivo::tool::commands())
        stream << "  kivo-tool " << name << ' ' << command.usage << '\n';
}

} // namespace

int main(int argc, char** argv) {
    // Before the application exists: starting it is what warns about XDG_RUNTIME_DIR.
    qtDefaultHandler = qInstallMessageHandler(routeQtMessage);
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
        kivo::tool::fail(
            args.isEmpty()
                ? QStringLiteral("no command given; see kivo-tool --help")
                : QStringLiteral("unknown command %1; see kivo-tool --help").arg(args.front()));
        return 2;
    }
    const QString name = args.takeFirst();
    return commands.at(name).run(args);
}
