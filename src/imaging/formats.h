// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Everything the image service knows about a format, in one table: how it is recognised and
// named at the desktop's edges, which decoder reads it, where its properties come from, what a
// rotation may do to the file and how a thumbnail is made. Per-format decisions read the table;
// adding a format touches the table and its decoder only.

#include "imaging/filepath.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <span>

namespace kivo {

enum class ImageFormat {
    jpeg,
    png,
    gif,
    bmp,
    ico,
    tiff,
    webp,
    heic,
    heif,
    avif,
    psd,
    cr2,
    cr3,
    nef,
    arw,
    dng,
    orf,
    rw2,
    raf,
    pef,
    jxl,
    svg,
    svgz,
};

// Which decoder reads the pixels.
enum class DecoderKind {
    libjpeg,   // our libjpeg-turbo reader: reduced DCT scales for small sizes
    qtPlugin,  // Qt's image plugins (QImageReader with `qtFormat`)
    libspng,   // PNG for display, rows converted (and scaled) as they arrive; Qt's reader for
               // the stored pixels a rewrite needs and for what libspng refuses
    libheif,   // HEIC, HEIF, AVIF; upright by the container's transforms
    libraw,    // camera raw; upright by LibRaw's flip
    psdReader, // our own PSD reader of the merged composite
    libjxl,    // JPEG XL; upright by its codestream's orientation
    qtSvg,     // Qt SVG, rendered at the size the view asks for
};

// Where the size, depth, colour model and orientation come from (tags are always read with
// exiv2 or, for JPEG, from the segments directly).
enum class LayoutSource {
    jpegFrame,  // the JPEG frame header, read with the tags
    pngHeader,  // IHDR
    tiffTags,   // the TIFF directory's own tags
    codecProbe, // libheif, LibRaw or the PSD reader, which also give the container's orientation
    qtReader,   // whatever Qt's reader says
};

// What turning a picture may do to its file.
enum class RotationSupport {
    tagPatch,     // only the orientation tag changes; the image data is copied byte for byte
    pixelRewrite, // the pixels are written turned, losslessly, with the orientation removed
    onScreenOnly, // the file is left alone; the picture is turned on screen
};

// How a thumbnail is made (always from the image data, never from a stored preview that may
// predate an edit).
enum class ThumbnailPath {
    reducedDct,   // JPEG at the smallest DCT scale that covers the size asked for
    scaledDecode, // WebP decoded at its final size, SVG rendered at it
    rawPreview,   // the raw's own preview or a half-size demosaic
    fullAndScale, // a full decode, then scaled down (PNG averages its rows down as they arrive)
};

// Where an ICC profile the decoder does not hand over itself is found.
enum class ProfileSource { decoder, pngChunk, webpChunk, tiffTag };

struct FormatInfo {
    ImageFormat format;
    QLatin1StringView name;     // for logs and kivo-tool: "JPEG", "Canon CR2"
    QLatin1StringView mimeType; // as `file --mime-type` and shared-mime-info name it
    std::span<const QLatin1StringView> mimeAliases; // other names file managers use
    std::span<const QLatin1StringView> extensions;  // lower case; empty: recognised by content
                                                    // only, not listed in folders
    DecoderKind decoder;
    QLatin1StringView qtFormat; // Qt plugin name when Qt reads or writes it, else empty
    LayoutSource layout;
    ProfileSource profile;
    RotationSupport rotation;
    ThumbnailPath thumbnail;
    bool tiffContainer;        // a TIFF structure whose IFD0 holds the orientation tag
    bool containerOrients;     // the container's transform governs display, not the Exif tag
    bool exifChunkOrientation; // an Exif orientation in a chunk Qt's reader ignores (PNG, WebP)
    bool mayAnimate;           // several frames played as an animation
    bool cameraRaw;
};

// The name Qt's image plugins know the format by ("jpeg", "png"), empty when none reads it.
inline QByteArray qtFormatName(const FormatInfo& format) {
    return QByteArray(format.qtFormat.data(), format.qtFormat.size());
}

// A picture with no pixels of its own, rendered at whatever size it is shown at.
inline bool isVector(const FormatInfo& format) {
    return format.decoder == DecoderKind::qtSvg;
}

// Every format, in the table's order.
std::span<const FormatInfo> allFormats();

const FormatInfo& formatInfo(ImageFormat format);

// The format a file extension (without the dot, any case) names, or null.
const FormatInfo* formatForExtension(QStringView extension);
const FormatInfo* formatForExtension(QLatin1StringView extension);

// The format the path's extension names, or null. The file's content decides what it is
// (sniffFormat); the extension only lists it and breaks ties between TIFF-based raws.
const FormatInfo* formatForPath(const FilePath& path);

// The format a MIME type (primary or alias) names, or null.
const FormatInfo* formatForMimeType(QStringView mimeType);

// Every extension listed in folders and offered by the file dialog, lower case.
QStringList supportedExtensions();

// Primary MIME types and their aliases, for the desktop entry's MimeType key.
QStringList supportedMimeTypes();

} // namespace kivo
