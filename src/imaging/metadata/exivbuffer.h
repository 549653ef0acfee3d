// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <exiv2/exiv2.hpp>

namespace kivo::exivbuffer {

// exiv2 edits the file it is given by truncating and rewriting it, so it is only ever given a
// copy in memory; the result is read back out and written by the caller. exiv2 throws: callers
// catch at their boundary.

void initialiseOnce();

// An exiv2 image over a copy of `bytes`, its metadata read.
Exiv2::Image::AutoPtr open(const QByteArray& bytes);

// The current contents of the image's memory after writeMetadata().
QByteArray contents(Exiv2::Image& image);

} // namespace kivo::exivbuffer
