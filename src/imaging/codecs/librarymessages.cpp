// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/librarymessages.h"

#include <QString>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <mutex>
#include <string_view>
#include <tiffio.h>

namespace kivo {

namespace {

Q_LOGGING_CATEGORY(lcTiff, "kivo.imaging.tiff", QtWarningMsg)
Q_LOGGING_CATEGORY(lcQtReaders, "kivo.imaging.qt", QtWarningMsg)
Q_LOGGING_CATEGORY(lcExiv2, "kivo.imaging.exiv2", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHeif, "kivo.imaging.heif", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRaw, "kivo.imaging.raw", QtWarningMsg)

// A library's warning becomes a debug message, its error an info message.
QtMsgType demoted(QtMsgType type) {
    return type == QtCriticalMsg ? QtInfoMsg : QtDebugMsg;
}

void logLibraryMessage(const QLoggingCategory& category, bool error, const QString& text) {
    if (error)
        qCInfo(category).noquote() << text;
    else
        qCDebug(category).noquote() << text;
}

// The lines libtiff's default handlers would print on stderr, in our category instead.
void tiffMessage(bool error, const char* module, const char* format, va_list args) {
    if (!lcTiff().isEnabled(error ? QtInfoMsg : QtDebugMsg))
        return;
    QString text = QString::vasprintf(format, args);
    if (!error)
        text.prepend(QStringLiteral("Warning, "));
    if (module)
        text.prepend(QString::fromUtf8(module) + QStringLiteral(": "));
    logLibraryMessage(lcTiff(), error, text);
}

void tiffWarning(const char* module, const char* format, va_list args) {
    tiffMessage(false, module, format, args);
}

void tiffError(const char* module, const char* format, va_list args) {
    tiffMessage(true, module, format, args);
}

void exiv2Message(int level, const char* text) {
    logLibraryMessage(lcExiv2(), level >= Exiv2::LogMsg::error, QString::fromUtf8(text).trimmed());
}

// exiv2 formats no message below its level: ask only for what the category shows.
Exiv2::LogMsg::Level exiv2Level() {
    if (lcExiv2().isDebugEnabled())
        return Exiv2::LogMsg::debug;
    return lcExiv2().isInfoEnabled() ? Exiv2::LogMsg::error : Exiv2::LogMsg::mute;
}

// The handler that was in place before ours: Qt's default, or kivo-tool's, or a test's.
std::atomic<QtMessageHandler> previousQtHandler{nullptr};

void forwardQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (const QtMessageHandler previous = previousQtHandler.load())
        previous(type, context, text);
    else // only in the instant between installing ours and learning the previous one
        std::fputs(qPrintable(qFormatLogMessage(type, context, text) + u'\n'), stderr);
}

// Whether a Qt message is about a file's contents: Qt's image readers pass on what their
// libraries report under "qt.gui.imageio" and its subcategories (libpng's warnings as "libpng
// warning: ...", libjpeg's under ".jpeg"), its ICC parser judges embedded profiles, and Qt SVG
// reports what it cannot draw in a drawing under "qt.svg".
bool aboutFileContents(const char* category) {
    if (!category)
        return false;
    const std::string_view name(category);
    return name == "qt.gui.imageio" || name.starts_with("qt.gui.imageio.") ||
           name == "qt.gui.icc" || name == "qt.svg" || name.starts_with("qt.svg.");
}

// Messages about a file's contents go to our category; every other message, and a fatal one in
// any case, goes on to the previous handler unchanged.
void routeQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg || !aboutFileContents(context.category)) {
        forwardQtMessage(type, context, text);
        return;
    }
    const QtMsgType routedType = demoted(type);
    if (!lcQtReaders().isEnabled(routedType))
        return;
    const QMessageLogContext routed(context.file, context.line, context.function,
                                    lcQtReaders().categoryName());
    forwardQtMessage(routedType, routed,
                     QString::fromLatin1(context.category) + QStringLiteral(": ") + text);
}

void rawDataError(void*, const char* file, const int offset) {
    if (offset < 0)
        qCInfo(lcRaw, "%s: unexpected end of file", file);
    else
        qCInfo(lcRaw, "%s: data corrupted at %d", file, offset);
}

void rawMemoryError(void*, const char* file, const char* where) {
    qCInfo(lcRaw, "%s: out of memory in %s", file, where);
}

} // namespace

void routeLibraryMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Set in the libtiff we link, which is the one Qt's TIFF plugin loads (one soname).
        TIFFSetWarningHandler(tiffWarning);
        TIFFSetErrorHandler(tiffError);
        Exiv2::LogMsg::setHandler(exiv2Message);
        Exiv2::LogMsg::setLevel(exiv2Level());
        previousQtHandler.store(qInstallMessageHandler(routeQtMessage));
    });
}

void routeLibRawMessages(LibRaw& raw) {
    raw.set_dataerror_handler(rawDataError, nullptr);
    raw.set_memerror_handler(rawMemoryError, nullptr);
}

void logHeifDecodingWarnings(heif_image* image) {
    if (!lcHeif().isDebugEnabled())
        return;
    heif_error warning{};
    for (int index = 0; heif_image_get_decoding_warnings(image, index, &warning, 1) == 1; ++index)
        qCDebug(lcHeif, "decoded despite: %s", warning.message);
}

} // namespace kivo
