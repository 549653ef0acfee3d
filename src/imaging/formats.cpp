// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/formats.h"

#include <array>

namespace kivo {

namespace {

using L = QLatin1StringView;
using enum ImageFormat;
using enum DecoderKind;
using enum LayoutSource;
using enum RotationSupport;
using enum ThumbnailPath;
using enum ProfileSource;

constexpr std::array<L, 0> kNone{};

constexpr std::array kJpegExt{L("jpg"), L("jpeg")};
constexpr std::array kJpegMime{L("image/pjpeg")};
constexpr std::array kPngExt{L("png")};
constexpr std::array kGifExt{L("gif")};
constexpr std::array kBmpExt{L("bmp")};
constexpr std::array kBmpMime{L("image/x-bmp"), L("image/x-ms-bmp")};
constexpr std::array kIcoExt{L("ico")};
constexpr std::array kIcoMime{L("image/x-icon"), L("image/x-ico")};
constexpr std::array kTiffExt{L("tiff"), L("tif")};
constexpr std::array kWebpExt{L("webp")};
constexpr std::array kHeicExt{L("heic")};
constexpr std::array kHeicMime{L("image/heic-sequence")};
constexpr std::array kHeifExt{L("heif")};
constexpr std::array kHeifMime{L("image/heif-sequence")};
constexpr std::array kAvifExt{L("avif")};
constexpr std::array kPsdExt{L("psd")};
constexpr std::array kPsdMime{L("image/x-photoshop"), L("image/x-psd"), L("image/psd"),
                              L("application/x-photoshop"), L("application/photoshop")};
constexpr std::array kCr2Ext{L("cr2")};
constexpr std::array kNefExt{L("nef")};
constexpr std::array kArwExt{L("arw")};
constexpr std::array kDngExt{L("dng")};
constexpr std::array kOrfExt{L("orf")};
constexpr std::array kRw2Ext{L("rw2")};
constexpr std::array kRw2Mime{L("image/x-panasonic-raw2"), L("image/x-panasonic-raw")};
constexpr std::array kJxlExt{L("jxl")};
constexpr std::array kSvgExt{L("svg")};
constexpr std::array kSvgzExt{L("svgz")};

// Columns: format, name, MIME type, aliases, extensions, decoder, Qt format, layout, profile,
// rotation, thumbnail, TIFF container, container orients, Exif in a chunk, may animate, raw.
// HEIF and the Sony and Panasonic raws carry a tag exiv2 cannot write, and GIF, PSD (layers) and
// AVIF (lossy) cannot be rewritten without loss: they turn on screen only, as SVG does (its
// pixels are rendered, not stored). JPEG XL keeps its orientation in the codestream header,
// which nothing here rewrites yet.
// clang-format off
const std::array<FormatInfo, 23> kFormats{{
    {jpeg, L("JPEG"), L("image/jpeg"), kJpegMime, kJpegExt, libjpeg, L("jpeg"), jpegFrame,
     decoder, tagPatch, reducedDct, false, false, false, false, false},
    {png, L("PNG"), L("image/png"), kNone, kPngExt, libspng, L("png"), pngHeader, pngChunk,
     pixelRewrite, fullAndScale, false, false, true, false, false},
    {gif, L("GIF"), L("image/gif"), kNone, kGifExt, qtPlugin, L("gif"), qtReader, decoder,
     onScreenOnly, fullAndScale, false, false, false, true, false},
    {bmp, L("BMP"), L("image/bmp"), kBmpMime, kBmpExt, qtPlugin, L("bmp"), qtReader, decoder,
     pixelRewrite, fullAndScale, false, false, false, false, false},
    {ico, L("ICO"), L("image/vnd.microsoft.icon"), kIcoMime, kIcoExt, qtPlugin, L("ico"),
     qtReader, decoder, pixelRewrite, fullAndScale, false, false, false, false, false},
    {tiff, L("TIFF"), L("image/tiff"), kNone, kTiffExt, qtPlugin, L("tiff"), tiffTags, tiffTag,
     tagPatch, fullAndScale, true, false, false, false, false},
    {webp, L("WebP"), L("image/webp"), kNone, kWebpExt, qtPlugin, L("webp"), qtReader, webpChunk,
     pixelRewrite, scaledDecode, false, false, true, true, false},
    {heic, L("HEIC"), L("image/heic"), kHeicMime, kHeicExt, libheif, {}, codecProbe, decoder,
     onScreenOnly, fullAndScale, false, true, false, false, false},
    {heif, L("HEIF"), L("image/heif"), kHeifMime, kHeifExt, libheif, {}, codecProbe, decoder,
     onScreenOnly, fullAndScale, false, true, false, false, false},
    {avif, L("AVIF"), L("image/avif"), kNone, kAvifExt, libheif, {}, codecProbe, decoder,
     onScreenOnly, fullAndScale, false, true, false, false, false},
    {psd, L("Photoshop"), L("image/vnd.adobe.photoshop"), kPsdMime, kPsdExt, psdReader, {},
     codecProbe, decoder, onScreenOnly, fullAndScale, false, false, false, false, false},
    {cr2, L("Canon CR2"), L("image/x-canon-cr2"), kNone, kCr2Ext, libraw, {}, codecProbe, decoder,
     tagPatch, rawPreview, true, true, false, false, true},
    {cr3, L("Canon CR3"), L("image/x-canon-cr3"), kNone, kNone, libraw, {}, codecProbe, decoder,
     onScreenOnly, rawPreview, false, true, false, false, true},
    {nef, L("Nikon NEF"), L("image/x-nikon-nef"), kNone, kNefExt, libraw, {}, codecProbe, decoder,
     tagPatch, rawPreview, true, true, false, false, true},
    {arw, L("Sony ARW"), L("image/x-sony-arw"), kNone, kArwExt, libraw, {}, codecProbe, decoder,
     onScreenOnly, rawPreview, true, true, false, false, true},
    {dng, L("DNG"), L("image/x-adobe-dng"), kNone, kDngExt, libraw, {}, codecProbe, decoder,
     tagPatch, rawPreview, true, true, false, false, true},
    {orf, L("Olympus ORF"), L("image/x-olympus-orf"), kNone, kOrfExt, libraw, {}, codecProbe,
     decoder, tagPatch, rawPreview, true, true, false, false, true},
    {rw2, L("Panasonic RW2"), L("image/x-panasonic-rw2"), kRw2Mime, kRw2Ext, libraw, {},
     codecProbe, decoder, onScreenOnly, rawPreview, true, true, false, false, true},
    {raf, L("Fujifilm RAF"), L("image/x-fuji-raf"), kNone, kNone, libraw, {}, codecProbe, decoder,
     onScreenOnly, rawPreview, false, true, false, false, true},
    {pef, L("Pentax PEF"), L("image/x-pentax-pef"), kNone, kNone, libraw, {}, codecProbe, decoder,
     onScreenOnly, rawPreview, true, true, false, false, true},
    {jxl, L("JPEG XL"), L("image/jxl"), kNone, kJxlExt, libjxl, {}, codecProbe, decoder,
     onScreenOnly, fullAndScale, false, true, false, true, false},
    {svg, L("SVG"), L("image/svg+xml"), kNone, kSvgExt, qtSvg, {}, codecProbe, decoder,
     onScreenOnly, scaledDecode, false, false, false, false, false},
    {svgz, L("SVGZ"), L("image/svg+xml-compressed"), kNone, kSvgzExt, qtSvg, {}, codecProbe,
     decoder, onScreenOnly, scaledDecode, false, false, false, false, false},
}};
// clang-format on

} // namespace

std::span<const FormatInfo> allFormats() {
    return kFormats;
}

const FormatInfo& formatInfo(ImageFormat format) {
    return kFormats[static_cast<std::size_t>(format)];
}

namespace {

template <typename View> const FormatInfo* lookUpExtension(View extension) {
    if (extension.isEmpty() || extension.size() > 4)
        return nullptr;
    for (const FormatInfo& info : kFormats)
        for (const L known : info.extensions)
            if (extension.compare(known, Qt::CaseInsensitive) == 0)
                return &info;
    return nullptr;
}

} // namespace

const FormatInfo* formatForExtension(QStringView extension) {
    return lookUpExtension(extension);
}

const FormatInfo* formatForExtension(QLatin1StringView extension) {
    return lookUpExtension(extension);
}

const FormatInfo* formatForPath(const FilePath& path) {
    const std::string& name = path.native();
    const auto dot = name.rfind('.');
    const auto slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    return formatForExtension(
        QString::fromLatin1(name.data() + dot + 1, qsizetype(name.size() - dot - 1)));
}

const FormatInfo* formatForMimeType(QStringView mimeType) {
    for (const FormatInfo& info : kFormats) {
        if (mimeType.compare(info.mimeType, Qt::CaseInsensitive) == 0)
            return &info;
        for (const L alias : info.mimeAliases)
            if (mimeType.compare(alias, Qt::CaseInsensitive) == 0)
                return &info;
    }
    return nullptr;
}

QStringList supportedExtensions() {
    QStringList list;
    for (const FormatInfo& info : kFormats)
        for (const L extension : info.extensions)
            list.append(extension);
    return list;
}

QStringList supportedMimeTypes() {
    QStringList list;
    for (const FormatInfo& info : kFormats) {
        if (info.extensions.empty())
            continue;
        list.append(info.mimeType);
        for (const L alias : info.mimeAliases)
            list.append(alias);
    }
    return list;
}

} // namespace kivo
