// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/metadata/exivbuffer.h"

#include "imaging/codecs/librarymessages.h"

#include <mutex>

namespace kivo::exivbuffer {

namespace {

// Given to the XMP toolkit so that the namespaces it registers while parsing (a process-wide
// table) are registered under a lock when several threads read files at once.
std::mutex xmpNamespaceMutex;

void lockXmpNamespaces(void*, bool lock) {
    if (lock)
        xmpNamespaceMutex.lock();
    else
        xmpNamespaceMutex.unlock();
}

} // namespace

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The XMP toolkit must be set up once before images are read on several threads, and
        // exiv2's log goes where the other libraries' messages go.
        Exiv2::XmpParser::initialize(lockXmpNamespaces, nullptr);
        routeLibraryMessages();
    });
}

Exiv2::Image::AutoPtr open(const QByteArray& bytes) {
    initialiseOnce();
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(bytes.constData()),
                                           static_cast<long>(bytes.size()));
    if (!image.get())
        throw Exiv2::Error(Exiv2::kerFileContainsUnknownImageType);
    image->readMetadata();
    return image;
}

QByteArray contents(Exiv2::Image& image) {
    Exiv2::BasicIo& io = image.io();
    if (io.open() != 0)
        throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, io.path(), "");
    const long size = io.size();
    QByteArray out(size, Qt::Uninitialized);
    io.seek(0, Exiv2::BasicIo::beg);
    const long read = io.read(reinterpret_cast<Exiv2::byte*>(out.data()), size);
    io.close();
    if (read != size)
        throw Exiv2::Error(Exiv2::kerInputDataReadFailed);
    return out;
}

} // namespace kivo::exivbuffer
