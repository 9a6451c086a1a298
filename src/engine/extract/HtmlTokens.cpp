#include "engine/extract/HtmlTokens.h"

namespace {
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// The states of a tag after its name, as far as they tell where the tag ends,
// where each attribute's name and value stand and whether it closes itself.
struct TagWalk {
    QByteArrayView text;
    qsizetype at;
    bool selfClosing = false;
    bool closed = false;  // by '>'; else the text ended inside the tag

    // The next attribute, or false at the tag's end.
    bool attribute(QByteArrayView& name, QByteArrayView& value)
    {
        for (;;) {
            if (at >= text.size())
                return false;
            const char c = text[at];
            if (HtmlTokens::isWhitespace(c)) {
                ++at;
            } else if (c == '>') {
                ++at;
                closed = true;
                return false;
            } else if (c == '/') {
                ++at;
                if (at < text.size() && text[at] == '>') {
                    ++at;
                    closed = true;
                    selfClosing = true;
                    return false;
                }
            } else {
                break;
            }
        }
        // The first character, whatever it is ('=', a quote), starts the name.
        const qsizetype nameStart = at++;
        while (at < text.size() && !HtmlTokens::isWhitespace(text[at]) && text[at] != '/' && text[at] != '>' && text[at] != '=')
            ++at;
        name = text.sliced(nameStart, at - nameStart);
        value = {};
        qsizetype after = at;
        while (after < text.size() && HtmlTokens::isWhitespace(text[after]))
            ++after;
        if (after >= text.size() || text[after] != '=')
            return true;
        at = after + 1;
        while (at < text.size() && HtmlTokens::isWhitespace(text[at]))
            ++at;
        if (at >= text.size() || text[at] == '>')
            return true;
        if (text[at] == '"' || text[at] == '\'') {
            const qsizetype close = text.indexOf(text[at], at + 1);
            const qsizetype end = close < 0 ? text.size() : close;
            value = text.sliced(at + 1, end - at - 1);
            at = close < 0 ? end : end + 1;
        } else {
            const qsizetype valueStart = at;
            while (at < text.size() && !HtmlTokens::isWhitespace(text[at]) && text[at] != '>')
                ++at;
            value = text.sliced(valueStart, at - valueStart);
        }
        return true;
    }
};
}  // namespace

bool HtmlTokens::sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

HtmlTokens::Reference HtmlTokens::referenceAt(QByteArrayView text, qsizetype at)
{
    const QByteArrayView rest = text.sliced(at + 1);
    if (rest.startsWith("Tab;"))
        return {5, true};
    if (rest.startsWith("NewLine;"))
        return {9, true, true};
    if (!rest.startsWith("#"))
        return {};
    const bool hexadecimal = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
    qsizetype p = hexadecimal ? 2 : 1;
    const qsizetype digits = p;
    long long value = 0;
    for (; p < rest.size(); ++p) {
        const char c = HtmlTokens::asciiLower(rest[p]);
        const int digit = c >= '0' && c <= '9' ? c - '0' : hexadecimal && c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            break;
        value = std::min(value * (hexadecimal ? 16 : 10) + digit, 0x7FFFFFFFLL);
    }
    if (p == digits)
        return {};
    if (p < rest.size() && rest[p] == ';')
        ++p;
    return {1 + p, value == 9 || value == 10 || value == 12 || value == 13 || value == 32, value == 10};
}

void HtmlTokens::forEachAttribute(QByteArrayView attributes,
                                  const std::function<bool(QByteArrayView name, QByteArrayView value)>& each)
{
    TagWalk walk{attributes, 0};
    QByteArrayView name;
    QByteArrayView value;
    while (walk.attribute(name, value)) {
        if (!each(name, value))
            return;
    }
}

void HtmlTokenizer::rawText(GumboTag tag, Raw kind)
{
    if (kind == Raw::Plaintext)
        rawEnd = text.size();
    else if (kind == Raw::Script)
        rawEnd = scriptEnd(at);
    else
        rawEnd = endTagAt(at, gumbo_normalized_tagname(tag));
}

HtmlToken HtmlTokenizer::next()
{
    if (rawEnd >= 0) {
        const qsizetype end = rawEnd;
        rawEnd = -1;
        if (end > at)
            return textUpTo(end);
    }
    // "</>" is no token at all: past it, the next one.
    bool afterEmptyEndTag = false;
    while (at + 2 < text.size() && text[at] == '<' && text[at + 1] == '/' && text[at + 2] == '>') {
        at += 3;
        afterEmptyEndTag = true;
    }
    if (at >= text.size())
        return {};
    if (text[at] != '<') {
        const qsizetype lt = text.indexOf('<', at);
        return textUpTo(lt < 0 ? text.size() : lt);
    }
    const qsizetype from = at;
    const char c = from + 1 < text.size() ? text[from + 1] : '\0';
    if (from + 1 >= text.size()) {
        return textUpTo(text.size());
    } else if (c == '!') {
        const QByteArrayView rest = text.sliced(from + 2);
        if (rest.startsWith("--")) {
            const qsizetype body = from + 4;
            if (text.sliced(body).startsWith(">"))
                return skipTo(body + 1, {});
            if (text.sliced(body).startsWith("->"))
                return skipTo(body + 2, {});
            return skipTo(commentEnd(body), {});
        }
        if (rest.size() >= 7 && HtmlTokens::sameName(rest.first(7), "doctype")) {
            HtmlToken doctype = skipTo(from + 9, ">");
            qsizetype p = from + 9;
            while (p < doctype.end && HtmlTokens::isWhitespace(text[p]))
                ++p;
            const qsizetype name = p;
            while (p < doctype.end && !HtmlTokens::isWhitespace(text[p]) && text[p] != '>')
                ++p;
            const bool html = HtmlTokens::sameName(text.sliced(name, p - name), "html");
            while (p < doctype.end && HtmlTokens::isWhitespace(text[p]))
                ++p;
            doctype.doctype = true;
            doctype.plainDoctype = html && p < doctype.end && text[p] == '>';
            return doctype;
        }
        if (currentNodeForeign && rest.startsWith("[CDATA["))
            return skipTo(from + 9, "]]>");
        return skipTo(from + 2, ">");
    } else if (c == '/') {
        const char d = from + 2 < text.size() ? text[from + 2] : '\0';
        if (from + 2 >= text.size())
            return textUpTo(text.size());
        if (isAsciiLetter(d)) {
            HtmlToken end = tag(from, false);
            end.hasForeignName = !afterEmptyEndTag;
            return end;
        }
        return skipTo(from + 2, ">");
    } else if (c == '?') {
        return skipTo(from + 1, ">");
    } else if (isAsciiLetter(c)) {
        HtmlToken start = tag(from, true);
        start.hasForeignName = !afterEmptyEndTag;
        return start;
    }
    const qsizetype lt = text.indexOf('<', from + 1);
    return textUpTo(lt < 0 ? text.size() : lt);
}

HtmlToken HtmlTokenizer::textUpTo(qsizetype end)
{
    HtmlToken token;
    token.kind = HtmlToken::Text;
    token.begin = at;
    token.end = end;
    at = end;
    return token;
}

HtmlToken HtmlTokenizer::skipTo(qsizetype from, QByteArrayView closing)
{
    HtmlToken token;
    token.kind = HtmlToken::Other;
    token.begin = at;
    qsizetype end = from;
    if (!closing.isEmpty()) {
        const qsizetype found = text.indexOf(closing, from);
        end = found < 0 ? text.size() : found + closing.size();
    }
    token.end = at = std::min(end, text.size());
    return token;
}

HtmlToken HtmlTokenizer::tag(qsizetype from, bool start)
{
    HtmlToken token;
    token.kind = start ? HtmlToken::StartTag : HtmlToken::EndTag;
    token.begin = from;
    const qsizetype nameStart = from + (start ? 1 : 2);
    qsizetype p = nameStart;
    while (p < text.size() && !HtmlTokens::isWhitespace(text[p]) && text[p] != '/' && text[p] != '>')
        ++p;
    token.name = text.sliced(nameStart, p - nameStart);
    token.tag = gumbo_tagn_enum(token.name.data(), unsigned(token.name.size()));
    TagWalk walk{text, p};
    QByteArrayView name;
    QByteArrayView value;
    while (walk.attribute(name, value))
        token.hasAttributes = true;
    at = walk.at;
    if (!walk.closed) {
        // A tag the text ends inside is no tag, and nothing follows it.
        at = text.size();
        return {};
    }
    token.end = walk.at;
    token.attributes = text.sliced(p, walk.at - 1 - p);
    token.selfClosing = walk.selfClosing;
    if (start) {
        // C's isspace, which takes a vertical tab too.
        qsizetype nameEnd = from + 1;
        while (nameEnd < token.end - 1 && !HtmlTokens::isWhitespace(text[nameEnd]) && text[nameEnd] != '\v'
               && text[nameEnd] != '/')
            ++nameEnd;
        token.foreignName = text.sliced(from + 1, nameEnd - from - 1);
    } else {
        token.foreignName = text.sliced(from + 2, token.end - 1 - from - 2);
    }
    return token;
}

// Past the first "-->" or "--!>" from `from` (any more dashes before the
// '>' belonging to it), or the text's end.
qsizetype HtmlTokenizer::commentEnd(qsizetype from) const
{
    for (qsizetype p = text.indexOf("--", from); p >= 0; p = text.indexOf("--", p)) {
        p += 2;
        while (p < text.size() && text[p] == '-')
            ++p;
        if (p < text.size() && text[p] == '>')
            return p + 1;
        if (text.sliced(p).startsWith("!>"))
            return p + 2;
    }
    return text.size();
}

// Where "</name" followed by white space, '/' or '>' starts, or the text's
// end.
qsizetype HtmlTokenizer::endTagAt(qsizetype from, QByteArrayView name) const
{
    for (qsizetype p = text.indexOf("</", from); p >= 0; p = text.indexOf("</", p + 1)) {
        const qsizetype after = p + 2 + name.size();
        if (after < text.size() && HtmlTokens::sameName(text.sliced(p + 2, name.size()), name)
            && (HtmlTokens::isWhitespace(text[after]) || text[after] == '/' || text[after] == '>'))
            return p;
    }
    return text.size();
}

// Where a script's text ends: at its first "</script" outside an escaped
// "<!--<script>" that a document.write() in an old page holds.
qsizetype HtmlTokenizer::scriptEnd(qsizetype from) const
{
    const auto letters = [&](qsizetype p) {
        qsizetype end = p;
        while (end < text.size() && isAsciiLetter(text[end]))
            ++end;
        return end;
    };
    // "script" from p, followed by white space, '/' or '>'.
    const auto scriptNameAt = [&](qsizetype p) {
        const qsizetype end = letters(p);
        return end < text.size() && HtmlTokens::sameName(text.sliced(p, end - p), "script")
            && (HtmlTokens::isWhitespace(text[end]) || text[end] == '/' || text[end] == '>');
    };
    enum { Data, Escaped, EscapedDash, EscapedDashDash, Double, DoubleDash, DoubleDashDash } state = Data;
    for (qsizetype p = from; p < text.size();) {
        const char c = text[p];
        switch (state) {
        case Data:
            if (c == '<') {
                if (p + 1 < text.size() && text[p + 1] == '/' && scriptNameAt(p + 2))
                    return p;
                if (text.sliced(p).startsWith("<!--")) {
                    state = EscapedDashDash;
                    p += 4;
                    continue;
                }
            }
            ++p;
            continue;
        case Escaped:
        case EscapedDash:
        case EscapedDashDash:
            if (c == '<') {
                if (p + 1 < text.size() && text[p + 1] == '/') {
                    if (scriptNameAt(p + 2))
                        return p;
                    state = Escaped;
                    p += 2;
                    continue;
                }
                if (p + 1 < text.size() && isAsciiLetter(text[p + 1])) {
                    const qsizetype end = letters(p + 1);
                    state = scriptNameAt(p + 1) ? Double : Escaped;
                    p = end;
                    continue;
                }
                state = Escaped;
            } else if (c == '-') {
                state = state == Escaped ? EscapedDash : EscapedDashDash;
            } else if (c == '>' && state == EscapedDashDash) {
                state = Data;
            } else {
                state = Escaped;
            }
            ++p;
            continue;
        case Double:
        case DoubleDash:
        case DoubleDashDash:
            if (c == '<') {
                if (p + 1 < text.size() && text[p + 1] == '/') {
                    const qsizetype end = letters(p + 2);
                    state = scriptNameAt(p + 2) ? Escaped : Double;
                    p = end;
                    continue;
                }
                state = Double;
            } else if (c == '-') {
                state = state == Double ? DoubleDash : DoubleDashDash;
            } else if (c == '>' && state == DoubleDashDash) {
                state = Data;
            } else {
                state = Double;
            }
            ++p;
            continue;
        }
    }
    return text.size();
}
