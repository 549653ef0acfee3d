// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How one `kivo` argument becomes an absolute path, in the standard library alone: the viewer and
// the Qt-free launcher resolve arguments the same way, so a file handed over names the same file
// the viewer would have opened itself.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kivo {

namespace fileargument {

inline std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return std::nullopt;
}

// "%XX" becomes the byte XX, whatever it is; a '%' not followed by two hex digits stays itself.
inline std::string percentDecoded(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto high =
            i + 2 < text.size() && text[i] == '%' ? hexDigit(text[i + 1]) : std::nullopt;
        const auto low = high ? hexDigit(text[i + 2]) : std::nullopt;
        if (low) {
            bytes += static_cast<char>(*high * 16 + *low);
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

} // namespace fileargument

// An absolute, lexically normal path for one file argument. Relative paths are taken from
// `workingFolder`, "~" from `home`, file:// URIs as file managers pass them (percent-encoded
// bytes); names keep their bytes, whatever the encoding.
inline std::filesystem::path absoluteFileArgument(std::string_view argument,
                                                  std::string_view workingFolder,
                                                  std::string_view home) {
    std::string path(argument);
    if (path.starts_with("file://")) {
        const std::size_t slash = path.find('/', 7);
        // drops a host name
        path = fileargument::percentDecoded(slash == std::string::npos
                                                ? std::string_view("/")
                                                : std::string_view(path).substr(slash));
    } else if (path == "~" || path.starts_with("~/")) {
        path = std::string(home) + path.substr(1);
    }
    if (!path.starts_with('/'))
        path = std::string(workingFolder) + '/' + path;
    const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
    // "dir/" normalises to "dir/": keep the name without the trailing separator
    return normal.has_filename() || normal == normal.root_path() ? normal : normal.parent_path();
}

} // namespace kivo
