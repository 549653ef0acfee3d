// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"
#include "imaging/formats.h"
#include "imaging/result.h"
#include "imaging/write/atomicreplace.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace kivo {

// How a turn reaches a file on disk.
enum class TurnMethod {
    tagPatch,     // only the orientation tag changes; the image data is copied unchanged
    pixelRewrite, // the pixels are laid out turned and the file is written anew, without a tag
};

// How a file of `format` is turned on disk; none when a turn can only be shown on screen
// (no writer keeps everything the format holds).
std::optional<TurnMethod> turnMethodFor(const FormatInfo& format);

// The orientation tag after `quarterTurns` clockwise quarter turns (negative turns count
// counter-clockwise). A missing tag, or a value outside 1 to 8, counts as 1: such files are shown
// unturned, and keeping the odd value would leave every turn invisible.
std::uint16_t rotatedOrientation(std::optional<std::int64_t> current, int quarterTurns);

// Writes the file at `url` turned clockwise by `quarterTurns` in the way `method` says, through
// a hidden temporary file in its folder that then replaces it; a whole number of turns writes
// nothing and fails. On failure the file is byte-identical to before and no temporary file is
// left. `probe` lets tests fail or stop each step of the replacement.
Result<TurnMethod> writeTurnedFile(const FilePath& url, int quarterTurns, TurnMethod method,
                                   const ReplaceProbe& probe = {});

} // namespace kivo
