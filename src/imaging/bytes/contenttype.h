// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/result.h"

#include <QByteArrayView>
#include <QStringView>

namespace kivo {

// The format of a file, from its bytes (the extension only breaks ties between formats that
// share a container, such as the TIFF-based raw formats). Anything that is not a regular file
// is refused before it is opened, since reading a FIFO or a device can block for good.
Result<const FormatInfo*> sniffFormat(const FilePath& path);

// The same from a file's first bytes (64 KiB are plenty) and its name's extension; null when
// it is no image the viewer reads.
const FormatInfo* sniffFormat(QByteArrayView head, QStringView extension);

} // namespace kivo
