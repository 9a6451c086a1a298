#include "cli/ReportWriters.h"

#include "cli/Documents.h"

#include <QString>

namespace {
// "\\x1b" as the text report writes a control character; "%1B" as GitHub's
// runner reads an escape.
void appendHexByte(QByteArray& to, unsigned byte, const char* lead)
{
    to += lead;
    const QByteArray hex = QByteArray::number(byte, 16).rightJustified(2, '0');
    to += *lead == '%' ? hex.toUpper() : hex;
}

// The length of the UTF-8 sequence starting at `i`, and its code point; a
// length of 0 where none starts (a stray or cut-short byte, an overlong
// form, a surrogate, past U+10FFFF).
std::pair<int, char32_t> utf8At(QByteArrayView text, qsizetype i)
{
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(text[at]); };
    const unsigned first = byte(i);
    if (first < 0x80)
        return {1, first};
    const int length = first >= 0xc2 && first <= 0xdf ? 2
                     : first >= 0xe0 && first <= 0xef ? 3
                     : first >= 0xf0 && first <= 0xf4 ? 4
                                                      : 0;
    if (length == 0 || i + length > text.size())
        return {0, 0};
    char32_t code = first & (0x7f >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return {0, 0};
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return {0, 0};
    return {length, code};
}

QByteArray xmlAttribute(QByteArrayView utf8) { return '"' + ReportWriters::xmlEscaped(utf8) + '"'; }
QByteArray xmlAttribute(const QString& text) { return xmlAttribute(QByteArrayView(text.toUtf8())); }
QByteArray xmlAttribute(const QByteArray& utf8) { return xmlAttribute(QByteArrayView(utf8)); }

// Where an address stands, for the classname and file of its testcase and
// its group in the CSV: a document, or the list (as it was named).
QString fileOf(const Report::Entry& entry)
{
    if (entry.source)
        return entry.source->file;
    return entry.list.toString();
}

class JunitWriter : public Report::Writer {
public:
    QByteArray line(const Report::Entry& entry) override
    {
        const Outcome& outcome = entry.outcome;
        ++m_tests;
        m_milliseconds += outcome.milliseconds;
        const QString file = fileOf(entry);
        QByteArray testcase = "    <testcase name=" + xmlAttribute(entry.address)
                            + " classname=" + xmlAttribute(file.isEmpty() ? QStringLiteral("list") : file);
        // GitLab and Jenkins show these beside a failure; standard input is no file.
        if (!file.isEmpty() && file != u"-")
            testcase += " file=" + xmlAttribute(file);
        if (entry.source && entry.source->place.line > 0)
            testcase += " line=\"" + QByteArray::number(entry.source->place.line) + '"';
        testcase += " time=\"" + seconds(outcome.milliseconds) + '"';
        const QByteArray answerClass = AnswerClasses::nameOf(outcome.answerClass).toLatin1();
        if (AnswerClasses::leftUnasked(outcome.answerClass)) {
            ++m_skipped;
            testcase += ">\n      <skipped message=" + xmlAttribute(Report::statusOf(outcome)) + "/>\n    </testcase>\n";
        } else if (entry.fails) {
            ++m_failures;
            const QByteArray status = Report::statusOf(outcome);
            // The body says it all again, for the tools that show only it.
            QByteArray body = answerClass + ": " + status + '\n' + entry.address.toByteArray();
            if (!outcome.location.isEmpty())
                body += "\nLocation: " + outcome.location.toUtf8();
            if (outcome.hops > 0)
                body += "\nafter " + QByteArray::number(outcome.hops) + " redirects: " + outcome.finalAddress.toUtf8();
            if (entry.source)
                body += "\nat " + entry.source->where().toUtf8() + " (" + entry.source->element.toUtf8()
                      + "): " + entry.source->written.toUtf8();
            testcase += ">\n      <failure type=" + xmlAttribute(answerClass) + " message=" + xmlAttribute(status) + '>'
                      + ReportWriters::xmlEscaped(body) + "</failure>\n    </testcase>\n";
        } else if (!outcome.valid) {
            // Invalid, but of a class --fail-on leaves out: a pass that says so.
            testcase += ">\n      <system-out>"
                      + ReportWriters::xmlEscaped(answerClass + ": " + Report::statusOf(outcome) + ", invalid, not failing")
                      + "</system-out>\n    </testcase>\n";
        } else {
            testcase += "/>\n";
        }
        m_cases += testcase;
        return {};
    }

    QByteArray end() override
    {
        const QByteArray counts = " tests=\"" + QByteArray::number(m_tests) + "\" failures=\""
                                + QByteArray::number(m_failures) + "\" errors=\"0\" skipped=\""
                                + QByteArray::number(m_skipped) + "\" time=\"" + seconds(m_milliseconds) + '"';
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tessaly-check\"" + counts
             + ">\n  <testsuite name=\"tessaly-check\"" + counts + ">\n" + std::exchange(m_cases, {})
             + "  </testsuite>\n</testsuites>\n";
    }

private:
    static QByteArray seconds(qint64 milliseconds) { return QByteArray::number(milliseconds / 1000.0, 'f', 3); }

    QByteArray m_cases;
    qint64 m_tests = 0;
    qint64 m_failures = 0;
    qint64 m_skipped = 0;
    qint64 m_milliseconds = 0;
};

class GithubWriter : public Report::Writer {
public:
    QByteArray line(const Report::Entry& entry) override
    {
        const Outcome& outcome = entry.outcome;
        // An invalid link --fail-on leaves out is in the log, as the text
        // report has it, not an error on the file's line.
        if (!entry.fails)
            return outcome.valid || AnswerClasses::leftUnasked(outcome.answerClass)
                     ? QByteArray()
                     : Report::textLine(entry.address, outcome, entry.source);
        // Past the cap the log still holds each one, as the text report
        // writes it: no line of it can be read as a command.
        if (m_annotated == ReportWriters::GithubAnnotations) {
            ++m_leftOut;
            return Report::textLine(entry.address, outcome, entry.source);
        }
        ++m_annotated;
        using ReportWriters::githubEscaped;
        QByteArray command = "::error ";
        if (entry.source && entry.source->place.line > 0) {
            command += "file=" + githubEscaped(entry.source->file.toUtf8(), true)
                     + ",line=" + QByteArray::number(entry.source->place.line)
                     + ",col=" + QByteArray::number(entry.source->place.column) + ',';
        }
        command += "title="
                 + githubEscaped("failing link (" + AnswerClasses::nameOf(outcome.answerClass).toLatin1() + ')', true);
        QByteArray message = Report::statusOf(outcome) + ": " + entry.address.toByteArray();
        if (entry.source && entry.source->written.toUtf8() != entry.address)
            message += " (written " + entry.source->written.toUtf8() + ')';
        return command + "::" + githubEscaped(message, false) + '\n';
    }

    QByteArray end() override
    {
        if (m_leftOut == 0)
            return {};
        return "::notice title=tessaly-check::" + QByteArray::number(m_leftOut)
             + " more failing links are in the log without an annotation: GitHub shows "
             + QByteArray::number(ReportWriters::GithubAnnotations) + " error annotations a step\n";
    }

private:
    int m_annotated = 0;
    qint64 m_leftOut = 0;
};

class CsvWriter : public Report::Writer {
public:
    QByteArray begin() override
    {
        return "verdict,status,address,class,attempts,location,hops,final_address,file,line,column,element,written\r\n";
    }

    QByteArray line(const Report::Entry& entry) override
    {
        using ReportWriters::csvField;
        const Outcome& outcome = entry.outcome;
        const LinkSource* source = entry.source;
        const bool placed = source && source->place.line > 0;
        const QByteArray fields[] = {
            Report::verdictOf(outcome),
            Report::statusOf(outcome),
            entry.address.toByteArray(),
            AnswerClasses::nameOf(outcome.answerClass).toLatin1(),
            QByteArray::number(outcome.attempts),
            outcome.location.toUtf8(),
            QByteArray::number(outcome.hops),
            outcome.hops > 0 ? outcome.finalAddress.toUtf8() : QByteArray(),
            fileOf(entry).toUtf8(),
            placed ? QByteArray::number(source->place.line) : QByteArray(),
            placed ? QByteArray::number(source->place.column) : QByteArray(),
            source ? source->element.toUtf8() : QByteArray(),
            source ? source->written.toUtf8() : QByteArray(),
        };
        QByteArray row;
        for (const QByteArray& field : fields) {
            if (!row.isEmpty())
                row += ',';
            row += csvField(field);
        }
        return row + "\r\n";
    }
};
}  // namespace

std::unique_ptr<Report::Writer> ReportWriters::junit() { return std::make_unique<JunitWriter>(); }
std::unique_ptr<Report::Writer> ReportWriters::github() { return std::make_unique<GithubWriter>(); }
std::unique_ptr<Report::Writer> ReportWriters::csv() { return std::make_unique<CsvWriter>(); }

QByteArray ReportWriters::xmlEscaped(QByteArrayView utf8)
{
    QByteArray escaped;
    escaped.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size();) {
        const auto [length, code] = utf8At(utf8, i);
        if (length == 0) {
            appendHexByte(escaped, static_cast<unsigned char>(utf8[i]), "\\x");
            ++i;
            continue;
        }
        switch (code) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        // An attribute's value would have them folded into spaces, CR lost anywhere.
        case '\t':
            escaped += "&#9;";
            break;
        case '\n':
            escaped += "&#10;";
            break;
        case '\r':
            escaped += "&#13;";
            break;
        default:
            // XML 1.0 holds no other C0 character, nor U+FFFE or U+FFFF; DEL
            // and C1 it holds, but they would steer a terminal showing it.
            if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0xfffe || code == 0xffff) {
                for (int k = 0; k < length; ++k)
                    appendHexByte(escaped, static_cast<unsigned char>(utf8[i + k]), "\\x");
            } else {
                escaped += utf8.sliced(i, length);
            }
        }
        i += length;
    }
    return escaped;
}

QByteArray ReportWriters::githubEscaped(QByteArrayView text, bool property)
{
    QByteArray escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        // The runner turns back %25, %0D and %0A (and %3A, %2C in a
        // property); any other control character it would print as it is,
        // so it is left in the same form, which it shows as written.
        if (byte == '%' || byte < 0x20 || byte == 0x7f || (property && (byte == ':' || byte == ',')))
            appendHexByte(escaped, byte, "%");
        else
            escaped += c;
    }
    return escaped;
}

QByteArray ReportWriters::csvField(QByteArrayView text)
{
    bool quoted = false;
    for (const char c : text)
        quoted = quoted || c == '"' || c == ',' || c == '\r' || c == '\n';
    if (!quoted)
        return text.toByteArray();
    QByteArray field = "\"";
    for (const char c : text)
        field += c == '"' ? QByteArrayView("\"\"") : QByteArrayView(&c, 1);
    return field + '"';
}
