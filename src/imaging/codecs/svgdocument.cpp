// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/codecs/svgdocument.h"

#include "imaging/codecs/decodecore.h"

#include <QHash>
#include <QXmlStreamReader>
#include <cmath>
#include <optional>
#include <vector>
#include <zlib.h>

namespace kivo {

namespace {

// A picture described in text is small; beyond this it is a bomb, compressed or not.
constexpr qint64 kMaxXmlBytes = 64 * 1024 * 1024;
// Qt SVG draws the tree recursively, <use> targets included: deeper nesting would exhaust a
// worker thread's stack.
constexpr int kMaxDepth = 256;
// Elements drawn once every <use> is expanded: a few levels of ten-fold references make a
// billion nodes out of a few hundred bytes.
constexpr qint64 kMaxExpandedElements = 2'000'000;
// Each entity expands to at most QXmlStreamReader's limit (4096 characters); a document that
// declares entities may refer to them this often.
constexpr qsizetype kMaxEntityReferences = 10'000;
constexpr int kDefaultLongSide = 1024;

Failure refused(FailureReason reason, const QString& why) {
    return Failure{reason, why};
}

bool isGzip(QByteArrayView bytes) {
    return bytes.size() >= 2 && uchar(bytes[0]) == 0x1f && uchar(bytes[1]) == 0x8b;
}

// Inflates a gzip stream up to `limit` bytes. `partial` accepts a stream cut short (a sniffed
// head); otherwise only a complete stream counts.
std::optional<QByteArray> gunzip(QByteArrayView compressed, qint64 limit, bool partial) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = uInt(compressed.size());
    QByteArray out;
    int status = Z_OK;
    char chunk[16384];
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - stream.avail_out);
        if (out.size() + produced > limit) {
            out.append(chunk, limit - out.size());
            status = partial ? Z_STREAM_END : Z_MEM_ERROR;
            break;
        }
        out.append(chunk, produced);
        if (status == Z_BUF_ERROR && partial)
            status = Z_STREAM_END;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

qsizetype skipSpace(QByteArrayView text, qsizetype at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    return at;
}

// The position after a DOCTYPE's closing '>', past an internal subset in brackets and quoted
// literals; -1 when the text ends first.
qsizetype skipDoctype(QByteArrayView text, qsizetype at) {
    int brackets = 0;
    char quote = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            return at + 1;
        }
    }
    return -1;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '-' || c == '_' || c == '.';
}

bool svgRootInText(QByteArrayView text) {
    qsizetype at = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        at = skipSpace(text, at);
        const QByteArrayView rest = text.sliced(at);
        qsizetype end = -1;
        if (rest.startsWith("<?")) {
            end = rest.indexOf("?>");
            end = end < 0 ? -1 : end + 2;
        } else if (rest.startsWith("<!--")) {
            end = rest.indexOf("-->");
            end = end < 0 ? -1 : end + 3;
        } else if (rest.startsWith("<!DOCTYPE")) {
            end = skipDoctype(rest, 9);
        } else if (rest.startsWith("<")) {
            qsizetype nameEnd = 1;
            while (nameEnd < rest.size() && isNameChar(rest[nameEnd]))
                ++nameEnd;
            if (nameEnd == rest.size())
                return false; // cut inside the name
            const QByteArrayView name = rest.sliced(1, nameEnd - 1);
            return name == "svg" || name.endsWith(":svg");
        } else {
            return false;
        }
        if (end < 0)
            return false;
        at += end;
    }
}

// A length as width and height give it, in CSS pixels (96 per inch); nothing for a percentage,
// which says nothing about the picture's own size.
std::optional<double> cssPixels(QStringView text) {
    text = text.trimmed();
    static constexpr struct {
        const char16_t* unit;
        double pixels;
    } kUnits[] = {{u"px", 1.0},         {u"pt", 96.0 / 72.0}, {u"pc", 16.0}, {u"mm", 96.0 / 25.4},
                  {u"cm", 96.0 / 2.54}, {u"in", 96.0},        {u"em", 16.0}, {u"ex", 8.0}};
    double perUnit = 1.0;
    for (const auto& [unit, pixels] : kUnits)
        if (text.endsWith(QStringView(unit))) {
            text = text.chopped(2).trimmed();
            perUnit = pixels;
            break;
        }
    bool ok = false;
    const double value = text.toDouble(&ok) * perUnit;
    return ok && std::isfinite(value) && value > 0 ? std::optional(value) : std::nullopt;
}

std::optional<QSizeF> viewBoxSize(QStringView text) {
    const auto parts =
        text.toString().simplified().replace(',', ' ').split(' ', Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    bool okW = false, okH = false;
    const double w = parts[2].toDouble(&okW), h = parts[3].toDouble(&okH);
    if (!okW || !okH || !(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return std::nullopt;
    return QSizeF(w, h);
}

struct RootSize {
    std::optional<double> width, height;
    std::optional<QSizeF> viewBox;
};

std::optional<QSize> intrinsicSize(const RootSize& root) {
    QSizeF size;
    const double aspect = root.viewBox ? root.viewBox->width() / root.viewBox->height() : 1.0;
    if (root.width && root.height)
        size = QSizeF(*root.width, *root.height);
    else if (root.width)
        size = QSizeF(*root.width, *root.width / aspect);
    else if (root.height)
        size = QSizeF(*root.height * aspect, *root.height);
    else if (aspect >= 1.0)
        size = QSizeF(kDefaultLongSide, kDefaultLongSide / aspect);
    else
        size = QSizeF(kDefaultLongSide * aspect, kDefaultLongSide);
    // Sides beyond a million pixels are no picture anyone draws; the decode budget judges the rest.
    if (!(size.width() <= 1e6 && size.height() <= 1e6))
        return std::nullopt;
    return QSize(std::max(1, int(std::lround(size.width()))),
                 std::max(1, int(std::lround(size.height()))));
}

bool isExternal(QStringView reference) {
    const QStringView trimmed = reference.trimmed();
    return !trimmed.isEmpty() && !trimmed.startsWith(u'#') &&
           !trimmed.startsWith(u"data:", Qt::CaseInsensitive);
}

// The element tree, as far as drawing it goes: children and the target of each <use>.
struct Node {
    std::vector<int> children;
    QString useTarget;
};

class Expansion {
public:
    explicit Expansion(const std::vector<Node>& nodes, const QHash<QString, int>& ids)
        : nodes_(nodes)
        , ids_(ids)
        , state_(nodes.size(), 0)
        , count_(nodes.size(), 0) {}

    // Elements drawn for node 0, or nothing for a cycle, nesting too deep or too many.
    bool withinLimits() { return visit(0, 1) && count_[0] <= kMaxExpandedElements; }

private:
    bool visit(int node, int depth) {
        if (depth > kMaxDepth || state_[size_t(node)] == 1)
            return false;
        if (state_[size_t(node)] == 2)
            return true;
        state_[size_t(node)] = 1;
        qint64 count = 1;
        std::vector<int> next = nodes_[size_t(node)].children;
        if (const QString& target = nodes_[size_t(node)].useTarget; !target.isEmpty())
            if (const auto found = ids_.constFind(target); found != ids_.constEnd())
                next.push_back(*found);
        for (const int child : next) {
            if (!visit(child, depth + 1))
                return false;
            count = std::min(count + count_[size_t(child)], kMaxExpandedElements + 1);
        }
        count_[size_t(node)] = count;
        state_[size_t(node)] = 2;
        return true;
    }

    const std::vector<Node>& nodes_;
    const QHash<QString, int>& ids_;
    std::vector<char> state_; // 0 unseen, 1 being expanded, 2 done
    std::vector<qint64> count_;
};

qsizetype entityReferences(QByteArrayView xml) {
    qsizetype count = 0;
    for (qsizetype at = xml.indexOf('&'); at >= 0; at = xml.indexOf('&', at + 1)) {
        const QByteArrayView rest = xml.sliced(at + 1);
        if (!(rest.startsWith("#") || rest.startsWith("amp;") || rest.startsWith("lt;") ||
              rest.startsWith("gt;") || rest.startsWith("quot;") || rest.startsWith("apos;")))
            ++count;
    }
    return count;
}

Result<SvgDocument> scan(QByteArray xml) {
    if (xml.contains("<!ENTITY") && entityReferences(xml) > kMaxEntityReferences)
        return refused(FailureReason::tooLarge, QStringLiteral("too many entity references"));
    QXmlStreamReader reader(xml);
    std::vector<Node> nodes;
    QHash<QString, int> ids;
    std::vector<int> open;
    RootSize root;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            for (const auto& entity : reader.entityDeclarations())
                if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty())
                    return refused(FailureReason::unsupported,
                                   QStringLiteral("external entity %1").arg(entity.name()));
            break;
        case QXmlStreamReader::EntityReference:
            return refused(FailureReason::unsupported,
                           QStringLiteral("unresolved entity %1").arg(reader.name()));
        case QXmlStreamReader::ProcessingInstruction:
            if (reader.processingInstructionTarget() == u"xml-stylesheet")
                return refused(FailureReason::unsupported, QStringLiteral("external style sheet"));
            break;
        case QXmlStreamReader::StartElement: {
            if (open.size() >= size_t(kMaxDepth))
                return refused(FailureReason::unsupported, QStringLiteral("nested too deeply"));
            if (qint64(nodes.size()) >= kMaxExpandedElements)
                return refused(FailureReason::tooLarge, QStringLiteral("too many elements"));
            const QXmlStreamAttributes attributes = reader.attributes();
            if (nodes.empty()) {
                if (reader.name() != u"svg")
                    return refused(FailureReason::notAnImage, QStringLiteral("no <svg> root"));
                root.width = cssPixels(attributes.value(QStringLiteral("width")));
                root.height = cssPixels(attributes.value(QStringLiteral("height")));
                root.viewBox = viewBoxSize(attributes.value(QStringLiteral("viewBox")));
            }
            Node node;
            for (const QXmlStreamAttribute& attribute : attributes) {
                if (attribute.name() == u"id")
                    ids.insert(attribute.value().toString(), int(nodes.size()));
                // A hyperlink is only followed by a click, which a picture never gets.
                if (attribute.name() != u"href" || reader.name() == u"a")
                    continue;
                if (isExternal(attribute.value()))
                    return refused(FailureReason::unsupported,
                                   QStringLiteral("external reference %1 on <%2>")
                                       .arg(attribute.value().left(200), reader.name()));
                if (const QStringView target = attribute.value().trimmed();
                    reader.name() == u"use" && target.startsWith(u'#'))
                    node.useTarget = target.sliced(1).toString();
            }
            if (!open.empty())
                nodes[size_t(open.back())].children.push_back(int(nodes.size()));
            open.push_back(int(nodes.size()));
            nodes.push_back(std::move(node));
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                open.pop_back();
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return refused(FailureReason::damaged, reader.errorString());
    if (nodes.empty())
        return refused(FailureReason::notAnImage, QStringLiteral("no <svg> root"));
    if (!Expansion(nodes, ids).withinLimits())
        return refused(FailureReason::unsupported,
                       QStringLiteral("<use> references that nest, repeat or cycle beyond reason"));
    const auto size = intrinsicSize(root);
    if (!size)
        return refused(FailureReason::tooLarge, QStringLiteral("a declared size beyond reason"));
    return SvgDocument{std::move(xml), *size, root.viewBox.has_value()};
}

} // namespace

bool looksLikeSvg(QByteArrayView head) {
    if (!isGzip(head))
        return svgRootInText(head);
    const auto text = gunzip(head, 64 * 1024, true);
    return text && svgRootInText(*text);
}

Result<SvgDocument> readSvgDocument(const FilePath& path) {
    auto bytes = readWholeFile(path, kMaxXmlBytes);
    if (!bytes)
        return bytes.failure();
    if (isGzip(*bytes)) {
        auto text = gunzip(*bytes, kMaxXmlBytes, false);
        if (!text)
            return refused(FailureReason::damaged,
                           QStringLiteral("a compressed stream that is cut short, damaged or "
                                          "larger than %1 bytes")
                               .arg(kMaxXmlBytes));
        *bytes = std::move(*text);
    }
    auto document = scan(std::move(*bytes));
    if (!document)
        qCDebug(lcImaging) << "refused" << displayPath(path) << ":" << document.failure().message;
    return document;
}

} // namespace kivo
