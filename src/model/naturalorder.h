// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/filepath.h"

#include <QCollator>
#include <QLocale>
#include <vector>

namespace kivo {

// The folder listing's natural order as a comparison, for placing single files into a list the
// listing sorted: case-insensitive, runs of digits by value, collated for the user's locale
// (English where that is C/POSIX), ties broken by the raw bytes. Finding a place costs a binary
// search, not a new sort.
class NaturalOrder {
public:
    explicit NaturalOrder(const QLocale& locale = QLocale::system());

    // Whether `a`'s name comes before `b`'s.
    bool before(const FilePath& a, const FilePath& b) const;
    // Where `file` goes in `sorted`, and whether it is already there.
    struct Place {
        size_t index = 0;
        bool present = false;
    };
    Place placeOf(const std::vector<FilePath>& sorted, const FilePath& file) const;

private:
    QCollator collator_;
};

} // namespace kivo
