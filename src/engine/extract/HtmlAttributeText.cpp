#include "engine/extract/HtmlAttributeText.h"

#include <atomic>
#include <csetjmp>
#include <cstdlib>
#include <utility>

#include <dlfcn.h>

namespace {
bool isAsciiAlphanumeric(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool isDigit(char c, bool hexadecimal)
{
    return (c >= '0' && c <= '9') || (hexadecimal && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// The code points gumbo gives for the text as an attribute's value.
int decodedLengthOf(const QByteArray& text)
{
    const QByteArray html = "<a x=\"" + text + "\">";
    const GumboParse parse(html);
    const GumboOutput* output = parse.output();
    if (!output)
        return int(text.size());
    const GumboAttribute* attribute = nullptr;
    const GumboVector& inHtml = output->root->v.element.children;  // <head>, <body>
    if (inHtml.length == 2) {
        const GumboVector& inBody = static_cast<const GumboNode*>(inHtml.data[1])->v.element.children;
        if (inBody.length == 1)
            attribute = gumbo_get_attribute(&static_cast<const GumboNode*>(inBody.data[0])->v.element.attributes, "x");
    }
    if (!attribute)
        return int(text.size());
    int length = 0;
    for (const char* c = attribute->value; *c; ++c)
        length += (*c & 0xC0) != 0x80;
    return length;
}

// Where a gumbo parse on this thread goes back to when gumbo fails one of
// its assertions, and what the assertion said.
thread_local sigjmp_buf* gumboStopped = nullptr;
thread_local QString gumboAssertion;
std::atomic<qint64> gumboStops{0};

// Gumbo's state is all in the parse's arena, dropped with it; the jump
// crosses only gumbo's C frames.
const GumboOutput* parsedContained(const GumboOptions& options, QByteArrayView utf8, QString& stop)
{
    sigjmp_buf back;
    if (sigsetjmp(back, 0) != 0) {
        ++gumboStops;
        stop = std::exchange(gumboAssertion, {});
        return nullptr;
    }
    gumboStopped = &back;
    const GumboOutput* parsed = gumbo_parse_with_options(&options, utf8.data(), size_t(utf8.size()));
    gumboStopped = nullptr;
    return parsed;
}
}  // namespace

// Debian's libgumbo keeps its assert()s, and the C library's would end the
// whole run for one page. A failed assertion while gumbo parses (nothing
// else runs then) ends that parse instead; any other is the C library's.
// The program's own definition is the one gumbo's calls reach.
extern "C" void __assert_fail(const char* assertion, const char* file, unsigned int line,
                              const char* function) noexcept
{
    if (sigjmp_buf* back = gumboStopped) {
        gumboStopped = nullptr;
        gumboAssertion = QStringLiteral("%1:%2: %3").arg(QString::fromUtf8(file), QString::number(line),
                                                            QString::fromUtf8(assertion));
        siglongjmp(*back, 1);
    }
    using AssertFail = void (*)(const char*, const char*, unsigned int, const char*);
    static const auto next = reinterpret_cast<AssertFail>(dlsym(RTLD_NEXT, "__assert_fail"));
    if (next)
        next(assertion, file, line, function);
    std::abort();
}

qint64 GumboParse::stops() { return gumboStops; }

QString textOfUtf8(QByteArrayView utf8)
{
    static constexpr QByteArrayView bom = "\xEF\xBB\xBF";
    // Each one: what follows the first starts with the next.
    qsizetype marks = 0;
    while (utf8.sliced(marks * bom.size()).startsWith(bom))
        ++marks;
    if (marks == 0)
        return QString::fromUtf8(utf8);
    return QString(marks, QChar(0xFEFF)) + QString::fromUtf8(utf8.sliced(marks * bom.size()));
}

GumboParse::GumboParse(QByteArrayView utf8)
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &allocate;
    options.deallocator = &deallocate;
    options.userdata = this;
    options.tab_stop = 1;    // a tab is one character, as an editor's column counts it
    options.max_errors = 0;  // nobody reads them
    parsed = parsedContained(options, utf8, stopped);
}

void* GumboParse::allocate(void* userdata, size_t size)
{
    return static_cast<GumboParse*>(userdata)->memory.allocate(size);
}

void GumboParse::deallocate(void* userdata, void* pointer)
{
    static_cast<GumboParse*>(userdata)->memory.deallocate(pointer);
}

std::optional<CharacterReferences::Reference> CharacterReferences::startingAt(QByteArrayView written, qsizetype start)
{
    qsizetype end = start + 1;
    if (end < written.size() && written[end] == '#') {
        const bool hexadecimal = end + 1 < written.size() && (written[end + 1] == 'x' || written[end + 1] == 'X');
        end += hexadecimal ? 2 : 1;
        const qsizetype digits = end;
        while (end < written.size() && isDigit(written[end], hexadecimal))
            ++end;
        if (end == digits)
            return std::nullopt;
        if (end < written.size() && written[end] == ';')
            ++end;
        return Reference{end - start, 1};  // a code point, U+FFFD for one out of range
    }
    while (end < written.size() && isAsciiAlphanumeric(written[end]))
        ++end;
    if (end == start + 1)
        return std::nullopt;
    if (end < written.size() && written[end] == ';')
        ++end;
    // An '=' after a name without ';' keeps it as written (href="?a=1&copy=2").
    const bool equalsAfter = written[end - 1] != ';' && end < written.size() && written[end] == '=';
    const QByteArray name = written.sliced(start, end - start).toByteArray() + (equalsAfter ? "=" : "");
    auto known = charactersOf.constFind(name);
    if (known == charactersOf.cend())
        known = charactersOf.insert(name, decodedLengthOf(name) - (equalsAfter ? 1 : 0));
    return Reference{end - start, *known};
}

namespace {
// Where the name as a browser reads it starts in the one gumbo gives.
qsizetype lastNameIn(QByteArrayView written)
{
    qsizetype start = written.size();
    while (start > 0 && !isHtmlSpace(QLatin1Char(written[start - 1])) && written[start - 1] != '/')
        --start;
    return start;
}
}  // namespace

QByteArray nameOf(const GumboAttribute& attribute)
{
    const QByteArrayView written(attribute.original_name.data, qsizetype(attribute.original_name.length));
    const qsizetype start = lastNameIn(written);
    return start == 0 ? QByteArray(attribute.name) : written.sliced(start).toByteArray().toLower();
}

// Gumbo's value_start and the start of its original_value are of no use:
// the one is of the opening quote, and the other leaves out a character
// reference that starts a value without quotes (x=&amp;y holds "y"), so the
// value is found after the name, its white space and '='. A value-less
// attribute (whose original_value gumbo gives as its name) stands at its
// name.
WrittenValue writtenValueOf(const GumboAttribute& attribute)
{
    const GumboStringPiece& name = attribute.original_name;
    WrittenValue value{{}, {int(attribute.name_start.line), int(attribute.name_start.column)}};
    if (attribute.original_value.data == name.data)
        return value;
    const char* at = name.data + name.length;
    const char* end = attribute.original_value.data + attribute.original_value.length;
    // Over the name, and any gumbo took for part of it on earlier lines.
    for (const char* c = name.data; c < at; ++c) {
        if (*c == '\r' && c + 1 < at && c[1] == '\n')
            continue;
        value.first = *c == '\n' || *c == '\r'   ? TextPlace{value.first.line + 1, 1}
                    : (*c & 0xC0) != 0x80 ? TextPlace{value.first.line, value.first.column + 1}
                                          : value.first;
    }
    const auto skipSpace = [&] {
        for (; at < end && isHtmlSpace(QLatin1Char(*at)); ++at) {
            if (*at == '\r' && at + 1 < end && at[1] == '\n')
                ++at;
            value.first = *at == '\n' || *at == '\r' ? TextPlace{value.first.line + 1, 1}
                                                     : TextPlace{value.first.line, value.first.column + 1};
        }
    };
    skipSpace();
    if (at < end && *at == '=') {
        ++at;
        ++value.first.column;
    }
    skipSpace();
    value.text = QByteArrayView(at, end - at);
    if (!value.text.isEmpty() && (value.text[0] == '"' || value.text[0] == '\'')) {
        const bool closed = value.text.size() >= 2 && value.text.back() == value.text[0];
        value.text = value.text.sliced(1, value.text.size() - (closed ? 2 : 1));
        ++value.first.column;
    }
    return value;
}

TextPlace ValueWalker::placeOf(qsizetype index)
{
    while (decodedAt < index && writtenAt < written.size())
        step();
    return place;
}

QString ValueWalker::withCharactersKept()
{
    QString kept;
    while (writtenAt < written.size()) {
        const qsizetype from = decodedAt;
        const qsizetype character = writtenAt;
        if (step() && decoded.sliced(from, decodedAt - from) == QChar::ReplacementCharacter && written[character] != '\0')
            kept += QString::fromUtf8(written.sliced(character, writtenAt - character));
        else
            kept += decoded.sliced(from, decodedAt - from);
    }
    return kept + decoded.sliced(decodedAt);
}

bool ValueWalker::step()
{
    const char c = written[writtenAt];
    if (c == '&') {
        if (const auto reference = references.startingAt(written, writtenAt)) {
            writtenAt += reference->written;
            place.column += int(reference->written);
            skipDecoded(reference->characters);
            return false;
        }
    }
    const bool lineEnd = c == '\r' || c == '\n';
    if (lineEnd) {
        writtenAt += c == '\r' && writtenAt + 1 < written.size() && written[writtenAt + 1] == '\n' ? 2 : 1;
        place = {place.line + 1, 1};
    } else {
        do
            ++writtenAt;
        while (writtenAt < written.size() && (written[writtenAt] & 0xC0) == 0x80);
        ++place.column;
    }
    skipDecoded(1);
    return !lineEnd;
}

void ValueWalker::skipDecoded(int characters)
{
    for (; characters > 0 && decodedAt < decoded.size(); --characters)
        decodedAt += decoded[decodedAt].isHighSurrogate() && decodedAt + 1 < decoded.size()
                          && decoded[decodedAt + 1].isLowSurrogate()
                       ? 2
                       : 1;
}
