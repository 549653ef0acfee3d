// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An SVG document as it may be handed to Qt SVG: its text (inflated when the file is
// gzip-compressed), checked for what a hostile file could do to a renderer, and the size it
// declares. Qt SVG runs no scripts, but it loads the files an <image> names and draws whatever
// a chain of <use> elements expands to; the checks here refuse those before it parses.

#include "imaging/filepath.h"
#include "imaging/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSize>

namespace kivo {

struct SvgDocument {
    QByteArray xml;
    QSize intrinsicSize; // from width and height, else the view box's aspect at 1024 on its long
                         // side, else 1024 square
    bool hasViewBox = false;
};

// Whether a file's first bytes (64 KiB are plenty) are an SVG document: XML text, or its gzip
// compression, whose root element is <svg>. A head cut short before the root says no.
bool looksLikeSvg(QByteArrayView head);

// The document, or why it is refused: an external reference (logged under the imaging
// category), entities or <use> chains that expand beyond reason, nesting too deep to draw,
// XML that does not parse, or a file too large for a picture described in text.
Result<SvgDocument> readSvgDocument(const FilePath& path);

} // namespace kivo
