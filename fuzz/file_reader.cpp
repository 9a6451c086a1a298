// A file's bytes to the items the loader appends. The decoding keeps every
// line end where it was, and the items put back together with one line end
// between each two, and at most one after the last, give back the text.
#include "Require.h"
#include "engine/lists/ListFormat.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Text that is not UTF-8 is read one character per byte, so each CR, LF and
// every other ASCII byte stays what it was, and nothing else becomes one.
void checkDecoding(QByteArrayView bytes, const QByteArray& text)
{
    require(QByteArrayView(text).isValidUtf8());
    if (bytes.startsWith(ByteOrderMark))
        bytes = bytes.sliced(ByteOrderMark.size());
    if (bytes.isValidUtf8()) {
        require(text == bytes);
        return;
    }
    const QString characters = QString::fromUtf8(text);
    require(characters.size() == bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80)
            require(characters[i] == QChar(byte));
        else
            require(characters[i].unicode() >= 0x80);
    }
}

// Walks the text along the items: each item where the last line end left
// off, then exactly one line end, CR LF counting as one, before the next; the
// last item may be followed by one line end, and then the text must be over.
// An empty text has no items, and a line end that closes the text gives none.
void checkItemsGiveBackTheText(QByteArrayView text, const std::vector<QByteArrayView>& items)
{
    if (text.isEmpty()) {
        require(items.empty());
        return;
    }
    require(!items.empty());
    qsizetype at = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        const QByteArrayView item = items[i];
        for (char c : item)
            require(!isLineEnd(c));
        require(item.size() <= text.size() - at);
        require(std::memcmp(text.data() + at, item.data(), static_cast<size_t>(item.size())) == 0);
        at += item.size();
        const bool last = i + 1 == items.size();
        if (at == text.size()) {
            // Text that ends in a line end ends with it: no empty item after.
            require(last && !item.isEmpty());
            break;
        }
        require(isLineEnd(text[at]));
        at += (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ? 2 : 1;
        if (last)
            require(at == text.size());
    }
    require(at == text.size());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray text = ListFormat::utf8TextOf(bytes.toByteArray());
    checkDecoding(bytes, text);

    std::vector<QByteArrayView> items;
    ListFormat::forEachLine(text, [&](QByteArrayView item) { items.push_back(item); });
    checkItemsGiveBackTheText(text, items);
    return 0;
}
