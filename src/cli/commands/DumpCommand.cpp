#include "cli/commands/DumpCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/Report.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

namespace {
// "docs/a.md:12:7  a href  ../b.md  docs/b.md", tabs apart, and "nofollow"
// after them for a rel=nofollow link; JSON: file, line, column, element, the
// address as written, where it leads, and "nofollow": true for such a link.
QByteArray dumpLine(const LinkSource& source, QByteArrayView leadsTo, bool json)
{
    if (json) {
        QJsonObject object{{"file", source.file},           {"line", source.place.line},
                           {"column", source.place.column}, {"element", source.element},
                           {"address", source.written},     {"resolved", QString::fromUtf8(leadsTo)}};
        if (source.nofollow)
            object.insert("nofollow", true);
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    // Escaped as the text report is, so that no address adds a field or a
    // line; built in one buffer, for there is a line for every link.
    QByteArray line;
    line.reserve(source.file.size() + source.written.size() + leadsTo.size() + 64);
    Report::appendEscapedField(line, source.where().toUtf8());
    line += '\t';
    line += source.element.toUtf8();
    line += '\t';
    Report::appendEscapedField(line, source.written.toUtf8());
    line += '\t';
    Report::appendEscapedField(line, leadsTo);
    line += source.nofollow ? "\tnofollow\n" : "\n";
    return line;
}
}  // namespace

const OptionTable<DumpFlag>& DumpFlag::table()
{
    static const OptionTable<DumpFlag> rows{
        {QCommandLineOption(QStringLiteral("dump"),
                            QStringLiteral("Print the links found and where each stands, and ask nothing.")),
         [](const Given&, DumpFlag&) { return std::optional<QString>(); }},
    };
    return rows;
}

std::optional<QString> DumpCommand::take(const QCommandLineParser& parser)
{
    if (auto problem = m_options.take(parser))
        return problem;
    // The links found are no report of verdicts: a line each, as text or JSON.
    if (m_options.format->name != u"text" && m_options.format->name != u"jsonl")
        return QStringLiteral("--dump writes text or jsonl, not %1").arg(m_options.format->name);
    return std::nullopt;
}

int DumpCommand::execute(const Streams& streams)
{
    const DumpOptions& options = m_options;
    QStringList warnings;
    Documents::Settings settings = documentSettings(options);
    settings.checkOnDisk = false;
    auto named = Documents::inputsOf(options.lists, settings, warnings);
    if (const QString* problem = std::get_if<QString>(&named))
        return failed(streams, *problem);
    for (const QString& warning : warnings)
        std::fprintf(streams.err, "tessaly-check: %s\n", qPrintable(warning));
    const bool json = options.format->name == u"jsonl";
    // One line out; false once it cannot be written or the run is stopped.
    const auto dumped = [&](const LinkSource& source, QByteArrayView leadsTo) {
        const QByteArray line = dumpLine(source, leadsTo, json);
        return std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), streams.out)
                == static_cast<size_t>(line.size())
            && !Interrupt::caught();
    };
    bool unread = false;
    Documents documents(settings);
    for (const Documents::Input& input : std::get<std::vector<Documents::Input>>(named)) {
        std::optional<QString> problem;
        if (input.kind == DocumentKind::List) {
            ListInput list;
            problem = list.open(input.name, [](int) { return !Interrupt::caught(); });
            if (!problem) {
                problem = list.forEachItem(
                    [&](QByteArrayView address) {
                    return dumped({input.name, {0, 0}, QString::fromUtf8(address), QStringLiteral("list")}, address);
                    },
                    [](int) { return !Interrupt::caught(); });
            }
        } else {
            problem = documents.forEachLink(input, [&](const Documents::Item& item) {
                return dumped(item.source, item.address);
            });
        }
        if (problem) {
            std::fprintf(streams.err, "tessaly-check: %s\n", qPrintable(*problem));
            unread = true;
        }
        for (const QString& note : documents.takeNotes())
            std::fprintf(streams.err, "tessaly-check: %s\n", qPrintable(note));
        if (std::ferror(streams.out) || Interrupt::caught())
            break;
    }
    std::fflush(streams.out);
    if (std::ferror(streams.out))
        return errno == EPIPE
                 ? ReaderGone
                 : failed(streams, QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (const QString read = documents.summary(); !read.isEmpty())
        std::fprintf(streams.err, "tessaly-check: %s\n", qPrintable(read));
    return unread ? Failed : AllValid;
}
