// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"

#include <QByteArray>
#include <QString>

namespace kivo {

// The ICC profile embedded in a PNG (iCCP), WebP (ICCP) or TIFF (tag 34675) file, or empty.
// Qt's readers drop a profile QColorSpace cannot parse (LUT-based, grey), so the display path
// reads it again from the file for lcms2.
QByteArray embeddedIccProfile(const FilePath& path, const FormatInfo& format);

} // namespace kivo
