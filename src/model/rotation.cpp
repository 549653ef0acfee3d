// Turning the current image: written into the file where that can be done without losing
// anything, otherwise shown turned on screen until another image becomes current.
#include "rotation.h"

#include "appstate.h"
#include "imaging/formats.h"
#include "imaging/imagewriter.h"
#include "imaging/source.h"

#include <QStringList>
#include <array>
#include <cmath>

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

std::uint16_t rotatedOrientation(std::optional<std::int64_t> current, int quarterTurns) {
    auto orientation =
        static_cast<std::uint16_t>(current && *current >= 1 && *current <= 8 ? *current : 1);
    for (int i = 0; i < clockwiseTurns(quarterTurns); ++i)
        orientation = turnedOnceClockwise(orientation);
    return orientation;
}

bool isTagOnlyType(const QString& contentType) {
    const FormatInfo* format = formatForMimeType(contentType);
    return format && format->rotation == RotationSupport::tagPatch;
}

RotationOutcome saveRotatedFile(const FilePath& url, int quarterTurns, const ReplaceProbe& probe) {
    const FilePath temporary = hiddenTemporaryPath(url);
    const auto source = ImageSource::open(url);
    if (!source || source->contentType().isEmpty())
        return RotationOutcome::notRewritten;
    // A whole number of turns leaves the picture as it is: nothing to write.
    const int turns = clockwiseTurns(quarterTurns);
    if (turns == 0)
        return RotationOutcome::notRewritten;
    const auto file = readFileForRewrite(url);
    if (!file)
        return RotationOutcome::notRewritten;

    const FormatInfo& type = source->format();
    const bool tagOnly = isTagOnlyType(source->contentType());
    const auto tag = rotatedOrientation(storedOrientation(*file, type), quarterTurns);
    // A picture shown turned by its tag is written as shown, turned further: turning only the
    // stored pixels and dropping the tag would lose the turn the tag made.
    const auto rewritten = tagOnly ? copyWithOrientation(*file, type, tag)
                                   : encodeWithOrientationApplied(*file, type, tag);
    // The replacement removes its temporary file itself on every failure.
    if (!rewritten || !replaceFileAtomically(url, temporary, *rewritten, probe))
        return RotationOutcome::notRewritten;
    return tagOnly ? RotationOutcome::tagRewritten : RotationOutcome::pixelsRewritten;
}

void AppState::rotate(int quarterTurns) {
    if (!currentURL_)
        return;
    if (saveRotation(*currentURL_, quarterTurns)) {
        setRotation(0.0);
        reloadCurrentImage();
        return;
    }
    double degrees = std::fmod(quarterTurns * 90.0 + rotation_, 360.0);
    if (degrees < 0.0)
        degrees += 360.0;
    setRotation(degrees);
}

bool AppState::saveRotation(const FilePath& url, int quarterTurns) {
    return saveRotatedFile(url, quarterTurns) != RotationOutcome::notRewritten;
}

} // namespace kivo
