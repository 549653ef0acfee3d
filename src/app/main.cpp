#include "model/appstate.h"
#include "model/folderlisting.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTextStream>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

// Qt aborts with a cryptic message when no display can be reached; say it plainly instead.
bool displayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true; // offscreen, vnc, ...: the user chose a platform that needs no display
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

// The file to open: the first argument as given (file names are bytes), or the first picture
// of the bundled sample folder.
std::optional<kivo::FilePath> fileToOpen(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc > 1) {
        std::error_code error;
        fs::path path = fs::absolute(fs::path(argv[1]), error);
        return error ? fs::path(argv[1]) : path.lexically_normal();
    }
    const auto listed = kivo::listSupportedImages(fs::path(KIVO_SAMPLES_DIR));
    if (!listed || listed->empty())
        return std::nullopt;
    return listed->front();
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fputs("kivo: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Start Kivo from a graphical session, or run it under Xvfb.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kivo"));
    QApplication::setApplicationName(QStringLiteral("Kivo"));
    QSettings settings;

    kivo::AppState state({&settings});
    const auto file = fileToOpen(argc, argv);
    QTextStream out(stdout);
    if (!file) {
        out << state.windowTitle() << '\n';
        return 0;
    }
    state.openFile(*file);
    out << state.windowTitle() << '\n';
    for (const kivo::FilePath& entry : state.imageFiles())
        out << "  " << kivo::displayPath(entry) << '\n';
    return 0;
}
