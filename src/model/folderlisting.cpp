#include "folderlisting.h"

#include "appstate.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <array>
#include <cctype>
#include <dirent.h>
#include <memory>

namespace kivo {

namespace {

constexpr std::array<std::string_view, 19> kSupportedExtensions = {
    "jpg",  "jpeg", "png", "gif", "bmp", "tiff", "tif", "heic", "heif", "webp",
    "avif", "ico",  "psd", "cr2", "nef", "arw",  "dng", "orf",  "rw2"};

// The collation locale: the user's, except that the C/POSIX locale collates by code point (and
// so puts "C.png" before "b.png"); there English gives the expected natural order.
QLocale collationLocale() {
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return system;
}

} // namespace

std::string_view pathExtension(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return fileName.substr(dot + 1);
}

bool isSupportedExtension(std::string_view extension) {
    if (extension.empty() || extension.size() > 4)
        return false;
    char lower[4];
    for (size_t i = 0; i < extension.size(); ++i)
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(extension[i])));
    const std::string_view key(lower, extension.size());
    return std::find(kSupportedExtensions.begin(), kSupportedExtensions.end(), key) !=
           kSupportedExtensions.end();
}

std::optional<std::vector<FilePath>> listSupportedImages(const FilePath& folder) {
    const std::string dirName = folder.empty() ? std::string(".") : folder.native();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(dirName.c_str()), closedir);
    if (!dir)
        return std::nullopt;
    std::vector<FilePath> kept;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.')
            continue; // hidden, and "." and ".."
        if (isSupportedExtension(pathExtension(name)))
            kept.push_back(folder / FilePath(std::string(name)));
    }
    sortNaturally(kept);
    return kept;
}

void sortNaturally(std::vector<FilePath>& paths) {
    QCollator collator(collationLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setIgnorePunctuation(false);

    // Collating is the costly part, so each name gets its sort key once instead of being
    // re-collated on every comparison.
    struct Keyed {
        QCollatorSortKey key;
        size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        keyed.push_back({collator.sortKey(displayName(paths[i])), i});
    std::sort(keyed.begin(), keyed.end(), [&paths](const Keyed& a, const Keyed& b) {
        const int order = a.key.compare(b.key);
        if (order != 0)
            return order < 0;
        return paths[a.index].filename().native() < paths[b.index].filename().native();
    });
    std::vector<FilePath> sorted;
    sorted.reserve(paths.size());
    for (const Keyed& k : keyed)
        sorted.push_back(std::move(paths[k.index]));
    paths = std::move(sorted);
}

void AppState::loadFolder(const FilePath& url) {
    auto files = listSupportedImages(url.parent_path());
    if (!files) {
        setImageFiles({url});
        setCurrentIndex(0);
        return;
    }
    const auto found = std::find(files->begin(), files->end(), url);
    const qsizetype index = found == files->end() ? 0 : found - files->begin();
    setImageFiles(std::move(*files));
    setCurrentIndex(index);
}

} // namespace kivo
