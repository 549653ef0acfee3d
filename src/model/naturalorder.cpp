// SPDX-License-Identifier: GPL-3.0-or-later
#include "naturalorder.h"

#include <algorithm>

namespace kivo {

namespace {

QString nameText(const FilePath& file) {
    const std::string& path = file.native();
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return QString::fromUtf8(path.data() + start, qsizetype(path.size() - start));
}

std::string_view nameBytes(const FilePath& file) {
    const std::string_view path = file.native();
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

NaturalOrder::NaturalOrder(const QLocale& locale)
    : collator_(locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                : locale) {
    // The same settings as the listing, or an inserted file would land out of its order.
    collator_.setNumericMode(true);
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
    collator_.setIgnorePunctuation(false);
}

bool NaturalOrder::before(const FilePath& a, const FilePath& b) const {
    const int byKey = collator_.compare(nameText(a), nameText(b));
    return byKey != 0 ? byKey < 0 : nameBytes(a) < nameBytes(b);
}

NaturalOrder::Place NaturalOrder::placeOf(const std::vector<FilePath>& sorted,
                                          const FilePath& file) const {
    const auto at =
        std::lower_bound(sorted.begin(), sorted.end(), file,
                         [this](const FilePath& a, const FilePath& b) { return before(a, b); });
    return {static_cast<size_t>(at - sorted.begin()),
            at != sorted.end() && at->native() == file.native()};
}

} // namespace kivo
