// SPDX-License-Identifier: GPL-3.0-or-later
#include "folderlisting.h"

#include "appstate.h"
#include "imaging/formats.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <array>
#include <cctype>
#include <dirent.h>
#include <memory>

namespace kivo {

namespace {

// The C/POSIX locale collates by code point (and so puts "C.png" before "b.png"); English gives
// the natural order the rule asks for.
QLocale collationLocale(const QLocale& requested) {
    if (requested.language() == QLocale::C)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    return requested;
}

} // namespace

std::string_view pathExtension(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return fileName.substr(dot + 1);
}

bool isSupportedExtension(std::string_view extension) {
    return formatForExtension(QLatin1StringView(extension.data(), qsizetype(extension.size()))) !=
           nullptr;
}

namespace {

// Natural order over plain names; the folder is joined on afterwards, so that each path object
// (costly to build: it splits itself into components) is made exactly once.
std::vector<size_t> naturalOrder(const std::vector<std::string>& names, const QLocale& locale) {
    QCollator collator(collationLocale(locale));
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setIgnorePunctuation(false);

    // Collating is the costly part, so each name gets its sort key once instead of being
    // re-collated on every comparison.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(names.size());
    for (const std::string& name : names)
        keys.push_back(collator.sortKey(QString::fromUtf8(name.data(), qsizetype(name.size()))));
    std::vector<size_t> order(names.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int byKey = keys[a].compare(keys[b]);
        return byKey != 0 ? byKey < 0 : names[a] < names[b];
    });
    return order;
}

} // namespace

std::optional<std::vector<FilePath>> listSupportedImages(const FilePath& folder) {
    const std::string& folderName = folder.native();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folderName.empty() ? "." : folderName.c_str()),
                                            closedir);
    if (!dir)
        return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.')
            continue; // hidden, and "." and ".."
        if (isSupportedExtension(pathExtension(name)))
            names.emplace_back(name);
    }
    dir.reset();

    std::string prefix = folderName;
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    std::vector<FilePath> sorted;
    sorted.reserve(names.size());
    for (size_t i : naturalOrder(names, QLocale::system()))
        sorted.emplace_back(prefix + names[i]);
    return sorted;
}

void sortNaturally(std::vector<FilePath>& paths, const QLocale& locale) {
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const FilePath& path : paths)
        names.push_back(path.filename().native());
    std::vector<FilePath> sorted;
    sorted.reserve(paths.size());
    for (size_t i : naturalOrder(names, locale))
        sorted.push_back(std::move(paths[i]));
    paths = std::move(sorted);
}

void AppState::loadFolder(const FilePath& url) {
    auto files = listSupportedImages(url.parent_path());
    if (!files) {
        setImageFiles({url});
        setCurrentIndex(0);
        return;
    }
    // Compared as bytes: path's own operator== walks every component and costs far more.
    const auto found = std::find_if(files->begin(), files->end(), [&url](const FilePath& file) {
        return file.native() == url.native();
    });
    const qsizetype index = found == files->end() ? 0 : found - files->begin();
    setImageFiles(std::move(*files));
    setCurrentIndex(index);
}

} // namespace kivo
