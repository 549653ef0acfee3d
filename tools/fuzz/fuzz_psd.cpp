// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the PSD reader on arbitrary bytes, header probe and full decode.

#include "imaging/codecs/psdreader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(data, qsizetype(size));
    if (const auto info = kivo::readPsdInfo(bytes)) {
        const auto pixels = kivo::readPsd(bytes);
        // A document that decodes must match what its probe said.
        if (pixels && pixels->image.size() != info->size)
            __builtin_trap();
    }
    return 0;
}
