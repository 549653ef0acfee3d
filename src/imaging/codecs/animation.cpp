// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/animation.h"

#include "imaging/bytes/bytereader.h"
#include "imaging/bytes/contenttype.h"
#include "imaging/codecs/jxlcodec.h"
#include "imaging/pixels/colour.h"
#include "imaging/pixels/pixelbuffer.h"

#include <QBuffer>
#include <QImageReader>
#include <cstring>
#include <vector>
#include <webp/demux.h>

namespace kivo {

namespace {

// Frame delays from the Graphic Control Extensions, one per image descriptor, without decoding
// any pixels. Stops quietly at the first malformed block.
std::vector<int> gifFrameDelays(QByteArrayView data) {
    std::vector<int> delays;
    const auto* b = reinterpret_cast<const uchar*>(data.data());
    const qsizetype size = data.size();
    if (size < 13)
        return delays;
    qsizetype pos = 13;
    if (b[10] & 0x80)
        pos += 3 * (qsizetype(1) << ((b[10] & 7) + 1));
    auto skipSubBlocks = [&] {
        while (pos < size) {
            const int n = b[pos];
            pos += 1 + n;
            if (n == 0)
                return true;
        }
        return false;
    };
    int pendingDelay = 0;
    while (pos < size) {
        const uchar introducer = b[pos];
        if (introducer == 0x21 && pos + 1 < size) {
            const uchar label = b[pos + 1];
            pos += 2;
            if (label == 0xF9 && pos + 5 <= size && b[pos] >= 4)
                pendingDelay = int(ByteReader(data, false).peek(pos + 2, 2).value_or(0)) * 10;
            if (!skipSubBlocks())
                break;
        } else if (introducer == 0x2C && pos + 10 <= size) {
            const uchar flags = b[pos + 9];
            pos += 10;
            if (flags & 0x80)
                pos += 3 * (qsizetype(1) << ((flags & 7) + 1));
            pos += 1; // LZW minimum code size
            if (pos > size || !skipSubBlocks())
                break;
            delays.push_back(normalisedDelay(pendingDelay));
            pendingDelay = 0;
        } else {
            break; // trailer or garbage
        }
    }
    return delays;
}

// Qt's GIF reader composes each frame with its disposal method; it only reads forward.
// Both formats know every frame's delay up front; only the pixels are decoded on demand.
class ListedFrames : public FrameSource {
public:
    int frameCount() const override { return int(delays_.size()); }
    int frameDelayMs(int index) const override {
        return index >= 0 && index < frameCount() ? delays_[size_t(index)] : 0;
    }

protected:
    std::vector<int> delays_;
};

class GifFrames final : public ListedFrames {
public:
    GifFrames(QByteArray data, std::vector<int> delays)
        : data_(std::move(data)) {
        delays_ = std::move(delays);
        restart();
    }

    QImage decodeFrame(int index) override {
        if (index < 0 || index >= frameCount())
            return {};
        if (index < next_)
            restart();
        QImage frame;
        while (next_ <= index) {
            if (!reader_->read(&frame))
                return {};
            ++next_;
        }
        return toDisplaySrgb(std::move(frame));
    }

private:
    void restart() {
        reader_.reset();
        buffer_ = std::make_unique<QBuffer>(&data_);
        buffer_->open(QIODevice::ReadOnly);
        reader_ = std::make_unique<QImageReader>(buffer_.get(),
                                                 qtFormatName(formatInfo(ImageFormat::gif)));
        next_ = 0;
    }

    QByteArray data_;
    std::unique_ptr<QBuffer> buffer_;
    std::unique_ptr<QImageReader> reader_;
    int next_ = 0;
};

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// libwebp's animation decoder composes frames onto its own canvas; each one is copied out,
// since the canvas is overwritten by the next call.
class WebpFrames final : public ListedFrames {
public:
    static std::unique_ptr<WebpFrames> open(QByteArray data) {
        std::unique_ptr<WebpFrames> frames(new WebpFrames(std::move(data)));
        return frames->decoder_ ? std::move(frames) : nullptr;
    }

    QImage decodeFrame(int index) override {
        if (index < 0 || index >= frameCount())
            return {};
        if (index < next_) {
            WebPAnimDecoderReset(decoder_.get());
            next_ = 0;
        }
        uint8_t* canvas = nullptr;
        int timestamp = 0;
        while (next_ <= index) {
            if (!WebPAnimDecoderGetNext(decoder_.get(), &canvas, &timestamp))
                return {};
            ++next_;
        }
        QImage frame = allocateImage(size_, QImage::Format_ARGB32_Premultiplied);
        if (frame.isNull())
            return {};
        for (int y = 0; y < size_.height(); ++y)
            std::memcpy(frame.scanLine(y), canvas + qsizetype(y) * size_.width() * 4,
                        size_t(size_.width()) * 4);
        return icc_.isEmpty() ? frame : toDisplaySrgb(std::move(frame), icc_);
    }

private:
    explicit WebpFrames(QByteArray data)
        : data_(std::move(data)) {
        const WebPData webp{reinterpret_cast<const uint8_t*>(data_.constData()),
                            size_t(data_.size())};
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            return;
        // Premultiplied BGRA is QImage's ARGB32_Premultiplied on little-endian machines.
        options.color_mode = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_bgrA : MODE_Argb;
        options.use_threads = 0;
        // The canvas size must pass the budget before libwebp allocates it.
        WebPDemuxer* probe = WebPDemux(&webp);
        if (!probe)
            return;
        size_ = QSize(int(WebPDemuxGetI(probe, WEBP_FF_CANVAS_WIDTH)),
                      int(WebPDemuxGetI(probe, WEBP_FF_CANVAS_HEIGHT)));
        WebPDemuxDelete(probe);
        if (!fitsDecodeBudget(size_, 8))
            return;
        decoder_.reset(WebPAnimDecoderNew(&webp, &options));
        if (!decoder_)
            return;
        const WebPDemuxer* demux = WebPAnimDecoderGetDemuxer(decoder_.get());
        WebPIterator frame;
        if (WebPDemuxGetFrame(demux, 1, &frame)) {
            do
                delays_.push_back(normalisedDelay(frame.duration));
            while (WebPDemuxNextFrame(&frame));
            WebPDemuxReleaseIterator(&frame);
        }
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            icc_ = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes),
                              qsizetype(chunk.chunk.size));
            WebPDemuxReleaseChunkIterator(&chunk);
        }
    }

    QByteArray data_; // libwebp reads from it for the decoder's whole life
    std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> decoder_;
    QByteArray icc_;
    QSize size_;
    int next_ = 0;
};

} // namespace

bool webpHeaderIsAnimated(QByteArrayView head) {
    // RIFF header, then VP8X as the first chunk with the animation bit in its flags byte.
    return head.size() >= 21 && head.sliced(0, 4) == "RIFF" && head.sliced(8, 4) == "WEBP" &&
           head.sliced(12, 4) == "VP8X" && (uchar(head[20]) & 0x02);
}

std::optional<Animation> openAnimation(QByteArray data, const FormatInfo& format) {
    applyQtAllocationLimit();
    std::unique_ptr<FrameSource> frames;
    if (format.format == ImageFormat::gif) {
        std::vector<int> delays = gifFrameDelays(data);
        if (delays.size() < 2)
            return std::nullopt;
        frames = std::make_unique<GifFrames>(std::move(data), std::move(delays));
    } else if (format.format == ImageFormat::webp) {
        if (!webpHeaderIsAnimated(data))
            return std::nullopt;
        frames = WebpFrames::open(std::move(data));
    } else if (format.format == ImageFormat::jxl) {
        frames = openJxlFrames(std::move(data));
    }
    if (!frames || frames->frameCount() < 2)
        return std::nullopt;
    QImage first = frames->decodeFrame(0);
    if (first.isNull())
        return std::nullopt;
    return Animation{std::move(first), std::move(frames)};
}

} // namespace kivo
