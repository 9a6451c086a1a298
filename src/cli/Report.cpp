#include "cli/Report.h"

#include "cli/Documents.h"
#include "cli/ReportWriters.h"

#include "engine/Characters.h"

#include <QJsonDocument>

namespace {
// A status line may hold tabs or other control characters, C1 ones too (its
// bytes are read as Latin-1); in the report they would split or break its
// line, or steer the terminal.
QByteArray printable(QString text)
{
    for (QChar& c : text) {
        if (isControlCharacter(c.unicode()) || isC1ControlCharacter(c.unicode()))
            c = u' ';
    }
    return text.toUtf8();
}

// An address as the text report shows it: a control character (C0, DEL or,
// in UTF-8, C1) as \xNN with its code, a backslash as \\, so that no address
// steers the terminal or adds a field, and each reads back unambiguously.
void appendEscaped(QByteArray& out, QByteArrayView address)
{
    const auto escape = [&](unsigned code) {
        static constexpr char digits[] = "0123456789abcdef";
        const char text[] = {'\\', 'x', digits[(code >> 4) & 0xF], digits[code & 0xF]};
        out.append(text, 4);
    };
    // The bytes kept as they are go in runs: most addresses are one run.
    qsizetype run = 0;
    for (qsizetype i = 0; i < address.size(); ++i) {
        const auto byte = static_cast<unsigned char>(address[i]);
        const auto next = i + 1 < address.size() ? static_cast<unsigned char>(address[i + 1]) : 0u;
        const bool c1 = byte == 0xc2 && isC1ControlCharacter(next);
        if (!isControlCharacter(byte) && !c1 && byte != '\\')
            continue;
        out.append(address.sliced(run, i - run));
        if (isControlCharacter(byte)) {
            escape(byte);
        } else if (c1) {
            escape(next);
            ++i;
        } else {
            out += "\\\\";
        }
        run = i + 1;
    }
    out.append(address.sliced(run));
}

QByteArray escapedAddress(QByteArrayView address)
{
    QByteArray escaped;
    escaped.reserve(address.size());
    appendEscaped(escaped, address);
    return escaped;
}

QJsonValue textOrNull(const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); }
}  // namespace

QByteArray Report::escapedField(QByteArrayView text) { return escapedAddress(text); }

void Report::appendEscapedField(QByteArray& out, QByteArrayView text) { appendEscaped(out, text); }

QByteArray Report::statusOf(const Outcome& outcome)
{
    return printable(outcome.statusLine.isEmpty() ? outcome.reason : outcome.statusLine);
}

QByteArray Report::verdictOf(const Outcome& outcome)
{
    if (AnswerClasses::leftUnasked(outcome.answerClass))
        return "skipped";
    return outcome.valid ? "valid" : "invalid";
}

QByteArray Report::textLine(QByteArrayView address, const Outcome& outcome, const LinkSource* source)
{
    QByteArray line = verdictOf(outcome) + '\t';
    line += statusOf(outcome);
    line += '\t';
    line += escapedAddress(address);
    line += '\t';
    line += AnswerClasses::nameOf(outcome.answerClass).toLatin1();
    line += '\t';
    line += QByteArray::number(outcome.attempts);
    if (outcome.answerClass == AnswerClass::Redirect && !outcome.location.isEmpty()) {
        line += '\t';
        line += escapedAddress(outcome.location.toUtf8());
    }
    if (outcome.hops > 0) {
        line += '\t';
        line += QByteArray::number(outcome.hops);
        line += '\t';
        line += escapedAddress(outcome.finalAddress.toUtf8());
    }
    if (source) {
        line += '\t';
        line += escapedAddress(source->where().toUtf8());
    }
    line += '\n';
    return line;
}

QJsonObject Report::toJson(QByteArrayView address, const Outcome& outcome)
{
    return QJsonObject{
        {"address", QString::fromUtf8(address)},
        {"verdict", QString::fromLatin1(verdictOf(outcome))},
        {"status_code", outcome.statusCode >= 0 ? QJsonValue(outcome.statusCode) : QJsonValue()},
        {"status_line", textOrNull(outcome.statusLine)},
        {"reason", textOrNull(outcome.reason)},
        {"time_ms", outcome.milliseconds},
        {"location", textOrNull(outcome.location)},
        {"class", AnswerClasses::nameOf(outcome.answerClass).toString()},
        {"attempts", outcome.attempts},
        {"hops", outcome.hops},
        {"final_address", outcome.hops > 0 ? textOrNull(outcome.finalAddress) : QJsonValue()},
    };
}

QByteArray Report::jsonLine(QByteArrayView address, const Outcome& outcome, const LinkSource* source)
{
    QJsonObject object = toJson(address, outcome);
    if (source) {
        object.insert("written", source->written);
        QJsonObject where{{"file", source->file},
                          {"line", source->place.line},
                          {"column", source->place.column},
                          {"element", source->element}};
        if (source->nofollow)
            where.insert("nofollow", true);
        object.insert("source", where);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<std::pair<QByteArray, Outcome>> Report::fromJson(const QJsonObject& object)
{
    const QString verdict = object.value("verdict").toString();
    if (!object.value("address").isString() || (verdict != "valid" && verdict != "invalid" && verdict != "skipped"))
        return std::nullopt;
    Outcome outcome;
    outcome.valid = verdict != "invalid";
    outcome.statusCode = object.value("status_code").toInt(-1);
    outcome.statusLine = object.value("status_line").toString();
    outcome.reason = object.value("reason").toString();
    outcome.milliseconds = object.value("time_ms").toInteger();
    outcome.location = object.value("location").toString();
    // A journal from before classes were kept: the status code tells most.
    const std::optional<AnswerClass> answerClass = AnswerClasses::named(object.value("class").toString());
    outcome.answerClass = answerClass                  ? *answerClass
                        : outcome.statusLine.isEmpty() ? AnswerClass::Unreachable
                                                       : AnswerClasses::ofStatus(outcome.statusCode, false);
    outcome.attempts = object.value("attempts").toInt(1);
    outcome.hops = object.value("hops").toInt(0);
    if (outcome.hops > 0)
        outcome.finalAddress = object.value("final_address").toString();
    return std::pair{object.value("address").toString().toUtf8(), outcome};
}


namespace {
// The line formats: each address a line of its own, nothing before or after.
template <QByteArray (*Line)(QByteArrayView, const Outcome&, const LinkSource*)>
class LineWriter : public Report::Writer {
public:
    QByteArray line(const Report::Entry& entry) override { return Line(entry.address, entry.outcome, entry.source); }
};
template <QByteArray (*Line)(QByteArrayView, const Outcome&, const LinkSource*)>
std::unique_ptr<Report::Writer> lineWriter()
{
    return std::make_unique<LineWriter<Line>>();
}

// Each format the command can write its report in, by the name --format
// takes; the first is the default.
constexpr Report::Format Formats[] = {
    {u"text", &lineWriter<&Report::textLine>},
    {u"jsonl", &lineWriter<&Report::jsonLine>},
    {u"junit", &ReportWriters::junit},
    {u"github", &ReportWriters::github},
    {u"csv", &ReportWriters::csv},
};
}  // namespace

const Report::Format* Report::formatNamed(QStringView name)
{
    for (const Format& format : Formats) {
        if (format.name == name)
            return &format;
    }
    return nullptr;
}

QStringList Report::formatNames()
{
    QStringList names;
    for (const Format& format : Formats)
        names << format.name.toString();
    return names;
}
