#pragma once

#include "imaging/atomicreplace.h"
#include "imaging/filepath.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace kivo {

// How a rotation reached the file.
enum class RotationOutcome {
    tagRewritten,    // only the orientation tag changed
    pixelsRewritten, // the pixels were turned and the file written anew
    notRewritten,    // the file is as it was; the turn can only be shown on screen
};

// The orientation tag after `quarterTurns` clockwise quarter turns (negative turns count
// counter-clockwise). A missing tag, or a value outside 1 to 8, counts as 1: such files are shown
// unturned, and keeping the odd value would leave every turn invisible.
std::uint16_t rotatedOrientation(std::optional<std::int64_t> current, int quarterTurns);

// Whether a file of this type is turned by its orientation tag alone, its image data untouched.
bool isTagOnlyType(const QString& contentType);

// Writes the file at `url` turned by `quarterTurns`: by its tag or its pixels, through a hidden
// temporary file in its folder that then replaces it. `probe` lets tests fail or stop each step
// of the replacement.
RotationOutcome saveRotatedFile(const FilePath& url, int quarterTurns,
                                const ReplaceProbe& probe = {});

} // namespace kivo
