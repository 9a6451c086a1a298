#pragma once

#include "cli/Judging.h"
#include "cli/Report.h"
#include "engine/verdict/AnswerClass.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <iterator>

// The run in Markdown, for a CI job's page (--summary, GitHub's step
// summary): how many addresses of each class, and those that fail the run
// grouped by the file they stand in, each with its place. It stays under
// MostBytes, GitHub's limit on a step's summary: the failing addresses past
// it are left out, and a line says how many.
class Summary {
public:
    static constexpr qsizetype MostBytes = 1 << 20;

    // Which classes and codes decided the run, said under the head:
    // by default, every invalid link fails it.
    void judgedBy(const Judging& judging);
    // Each address of the report, in its order.
    void add(const Report::Entry& entry);
    QByteArray markdown() const;

    // Text as Markdown shows it literally: in a code span, or with its
    // punctuation escaped. Control characters as the text report writes them.
    static QByteArray codeSpan(QByteArrayView text);
    static QByteArray escaped(QByteArrayView text);

private:
    // What the head and the closing line take at most, kept free for them.
    static constexpr qsizetype FramingBytes = 8192;

    std::array<qint64, std::size(AnswerClasses::All)> m_byClass{};
    qint64 m_valid = 0;
    qint64 m_invalid = 0;
    qint64 m_failing = 0;
    qint64 m_skipped = 0;
    QByteArray m_rule = "Invalid links fail the run.";
    QByteArray m_failingPart;
    QString m_group;
    bool m_grouped = false;
    qint64 m_leftOut = 0;
};
