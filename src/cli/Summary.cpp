#include "cli/Summary.h"

#include "cli/Documents.h"

#include <algorithm>

QByteArray Summary::codeSpan(QByteArrayView text)
{
    const QByteArray shown = Report::escapedField(text);
    if (shown.isEmpty())
        return "_empty_";
    // A span is closed by a run of backticks as long as the one opening it;
    // one longer than any inside holds them, spaces apart from the text.
    qsizetype longest = 0;
    for (qsizetype i = 0, run = 0; i < shown.size(); ++i) {
        run = shown[i] == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const QByteArray fence(longest + 1, '`');
    const bool padded = longest > 0 || shown.startsWith(' ') || shown.endsWith(' ');
    return padded ? fence + ' ' + shown + ' ' + fence : fence + shown + fence;
}

QByteArray Summary::escaped(QByteArrayView text)
{
    QByteArray escaped;
    for (const char c : Report::escapedField(text)) {
        // Any ASCII punctuation may be escaped in Markdown, and none then
        // starts a link, an emphasis or a table's cell.
        if (c >= 0x21 && c <= 0x7e && !std::isalnum(static_cast<unsigned char>(c)))
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void Summary::judgedBy(const Judging& judging)
{
    QString rule = judging.failing ? QStringLiteral("Failing: %1 (--fail-on)").arg(ClassSets::text(*judging.failing))
                                   : QStringLiteral("Invalid links fail the run");
    if (judging.accepted)
        rule += QStringLiteral("; accepted codes: %1 (--accept)").arg(judging.accepted->text());
    // Class names and codes only: nothing Markdown would read as markup.
    m_rule = rule.toUtf8() + '.';
}

void Summary::add(const Report::Entry& entry)
{
    const Outcome& outcome = entry.outcome;
    ++m_byClass[static_cast<size_t>(outcome.answerClass)];
    if (AnswerClasses::leftUnasked(outcome.answerClass))
        ++m_skipped;
    else
        ++(outcome.valid ? m_valid : m_invalid);
    if (!entry.fails)
        return;
    ++m_failing;
    // Once one is left out, so are all after it: the summary shows the first ones.
    if (m_leftOut > 0) {
        ++m_leftOut;
        return;
    }
    const QString group = entry.source ? entry.source->file : entry.list.toString();
    QByteArray item;
    if (!m_grouped || group != m_group) {
        item += "\n#### " + (group.isEmpty() ? QByteArray("the lists") : codeSpan(group.toUtf8())) + "\n\n";
        m_group = group;
        m_grouped = true;
    }
    item += "- ";
    if (entry.source && entry.source->place.line > 0)
        item += QByteArray::number(entry.source->place.line) + ':' + QByteArray::number(entry.source->place.column) + ' ';
    item += codeSpan(entry.address) + " \xE2\x80\x94 " + AnswerClasses::nameOf(outcome.answerClass).toLatin1() + ": "
          + escaped(Report::statusOf(outcome)) + '\n';
    if (m_failingPart.size() + item.size() > MostBytes - FramingBytes) {
        ++m_leftOut;
        return;
    }
    m_failingPart += item;
}

QByteArray Summary::markdown() const
{
    const qint64 total = m_valid + m_invalid + m_skipped;
    QByteArray text = "## tessaly-check\n\n" + QByteArray::number(total) + (total == 1 ? " link: " : " links: ")
                    + QByteArray::number(m_valid) + " valid, " + QByteArray::number(m_invalid) + " invalid, "
                    + QByteArray::number(m_skipped) + " skipped, " + QByteArray::number(m_failing) + " failing\n\n"
                    + m_rule + "\n\n| class | links |\n| --- | ---: |\n";
    for (const AnswerClass answerClass : AnswerClasses::All) {
        if (const qint64 count = m_byClass[static_cast<size_t>(answerClass)])
            text += "| " + AnswerClasses::nameOf(answerClass).toLatin1() + " | " + QByteArray::number(count) + " |\n";
    }
    if (m_failing > 0)
        text += "\n### Failing links\n" + m_failingPart;
    if (m_leftOut > 0)
        text += "\n_" + QByteArray::number(m_leftOut)
              + " more failing links are left out to keep this summary under 1 MiB; the report holds them all._\n";
    return text;
}
