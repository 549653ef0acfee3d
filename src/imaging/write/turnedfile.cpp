// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a file turned by quarter turns: the orientation arithmetic, and the choice between
// patching the tag and laying out the pixels anew that the caller made.
#include "imaging/write/turnedfile.h"

#include "imaging/bytes/contenttype.h"
#include "imaging/write/imagewriter.h"

#include <array>

namespace kivo {

namespace {

// Quarter turns modulo 4 in two's complement, so -1 is three clockwise turns.
int clockwiseTurns(int quarterTurns) {
    return quarterTurns & 3;
}

std::uint16_t turnedOnceClockwise(std::uint16_t orientation) {
    // Indexed by the tag value; 0 is unused.
    static constexpr std::array<std::uint16_t, 9> next{0, 6, 5, 8, 7, 4, 3, 2, 1};
    return orientation >= 1 && orientation <= 8 ? next[orientation] : orientation;
}

} // namespace

std::optional<TurnMethod> turnMethodFor(const FormatInfo& format) {
    switch (format.rotation) {
    case RotationSupport::tagPatch:
        return TurnMethod::tagPatch;
    case RotationSupport::pixelRewrite:
        return TurnMethod::pixelRewrite;
    case RotationSupport::onScreenOnly:
        break;
    }
    return std::nullopt;
}

std::uint16_t rotatedOrientation(std::optional<std::int64_t> current, int quarterTurns) {
    auto orientation =
        static_cast<std::uint16_t>(current && *current >= 1 && *current <= 8 ? *current : 1);
    for (int i = 0; i < clockwiseTurns(quarterTurns); ++i)
        orientation = turnedOnceClockwise(orientation);
    return orientation;
}

Result<TurnMethod> writeTurnedFile(const FilePath& url, int quarterTurns, TurnMethod method,
                                   const ReplaceProbe& probe) {
    if (clockwiseTurns(quarterTurns) == 0)
        return Failure{FailureReason::writeFailed, QStringLiteral("a whole turn changes nothing")};
    const auto format = sniffFormat(url);
    if (!format)
        return format.failure();
    const FormatInfo& type = **format;
    if (turnMethodFor(type) != method)
        return Failure{FailureReason::unsupported,
                       QStringLiteral("%1 cannot be turned that way").arg(displayName(url))};
    const auto file = readFileForRewrite(url);
    if (!file)
        return file.failure();

    const auto tag = rotatedOrientation(storedOrientation(*file, type), quarterTurns);
    // A picture shown turned by its tag is written as shown, turned further: turning only the
    // stored pixels and dropping the tag would lose the turn the tag made.
    const auto rewritten = method == TurnMethod::tagPatch
                               ? copyWithOrientation(*file, type, tag)
                               : encodeWithOrientationApplied(*file, type, tag);
    if (!rewritten)
        return rewritten.failure();
    // The replacement removes its temporary file itself on every failure.
    if (!replaceFileAtomically(url, hiddenTemporaryPath(url), *rewritten, probe))
        return Failure{FailureReason::writeFailed, displayName(url)};
    return method;
}

} // namespace kivo
