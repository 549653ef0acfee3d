// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the codec and metadata libraries would print on their own, routed into Kivo's logging
// categories instead, which stay silent unless enabled (QT_LOGGING_RULES="kivo.*=true"):
//   kivo.imaging.tiff   libtiff's warnings and errors (Qt's TIFF plugin uses the same libtiff)
//   kivo.imaging.qt     Qt's image readers and ICC parser on a file's contents, libpng's
//                       warnings among them (Qt's PNG reader passes them on as its own)
//   kivo.imaging.exiv2  exiv2's log
//   kivo.imaging.heif   the warnings libheif attaches to a picture it decoded anyway
//   kivo.imaging.raw    LibRaw's reports of damaged data and failed allocations
// A library's warning is logged at debug level, its error at info level: a damaged file is an
// expected event for a viewer, not a fault of its own.

#include <QLoggingCategory>

class LibRaw;
struct heif_image;

namespace kivo {

// Installs the process-wide handlers once; later calls return at once. Every file the imaging
// layer reads passes through here first (openForReading, and exiv2's set-up), so no program
// has to remember it. Safe from any thread.
void routeLibraryMessages();

// LibRaw reports per instance: set on each one before it opens a file.
void routeLibRawMessages(LibRaw& raw);

// Logs the warnings libheif gathered while decoding `image`.
void logHeifDecodingWarnings(heif_image* image);

} // namespace kivo
