// Addresses, file names and reasons of any bytes through the report writers
// CI systems read: the JUnit report stays well-formed XML holding one
// testcase, the GitHub commands one line each with nothing a runner would
// read as another command, and the CSV row reads back, by RFC 4180, as the
// fields it was given.
#include "Require.h"
#include "cli/Documents.h"
#include "cli/Report.h"
#include "cli/ReportWriters.h"
#include "cli/Summary.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdlib>

namespace {
QByteArray whole(Report::Writer& writer, const Report::Entry& entry)
{
    // In turn: the end may say what the lines left out.
    QByteArray report = writer.begin();
    report += writer.line(entry);
    return report + writer.end();
}

// The fields of one CSV record, read as RFC 4180 writes them.
QList<QByteArray> csvRecord(QByteArrayView text)
{
    QList<QByteArray> fields{QByteArray()};
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            fields.last() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            fields.append(QByteArray());
        } else {
            fields.last() += c;
        }
    }
    return fields;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The address, then the file after the first NUL, the reason after the second.
    const QList<QByteArray> parts = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0');
    const QByteArray address = parts.value(0);
    LinkSource source;
    source.file = QString::fromUtf8(parts.value(1));
    source.written = QString::fromUtf8(address);
    source.place = {1 + static_cast<int>(size % 7), 1};
    Outcome outcome;
    outcome.answerClass = AnswerClass::NotFound;
    outcome.reason = QString::fromUtf8(parts.value(2));
    const Report::Entry entry{address, outcome, &source, u"list.txt", true};

    const QByteArray junit = whole(*ReportWriters::junit(), entry);
    QXmlStreamReader xml(junit);
    int cases = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"testcase")
            ++cases;
    }
    require(!xml.hasError() && cases == 1);

    const QByteArray github = whole(*ReportWriters::github(), entry);
    require(github.endsWith('\n') && github.count('\n') == 1 && !github.contains('\r') && github.startsWith("::error "));

    const QByteArray csv = whole(*ReportWriters::csv(), entry);
    require(csv.endsWith("\r\n"));
    const qsizetype headerEnd = csv.indexOf("\r\n") + 2;
    const QList<QByteArray> fields = csvRecord(QByteArrayView(csv).sliced(headerEnd, csv.size() - headerEnd - 2));
    require(fields.size() == 13 && fields[2] == address && fields[8] == source.file.toUtf8());

    Summary summary;
    summary.add(entry);
    require(summary.markdown().count("\n- ") == 1);
    return 0;
}
