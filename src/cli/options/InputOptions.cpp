#include "cli/options/InputOptions.h"

#include <QFileInfo>
#include <QUrl>

using namespace OptionValues;

const OptionTable<InputOptions>& InputOptions::table()
{
    using I = InputOptions;
    static const QStringList kinds = DocumentKinds::inputFormatNames();
    static const OptionTable<I> rows{
        {QCommandLineOption(QStringLiteral("input-format"),
                            QStringLiteral("Read every file named, and standard input, as %1 (default: by the file's name: .html, .htm, "
                                           ".xhtml, .md, .markdown, .xml, .xml.gz; anything else, and standard input, a list).")
                                .arg(kinds.mid(0, kinds.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ")
                                     + kinds.constLast()),
                            QStringLiteral("KIND")),
         [](const Given& given, I& into) -> std::optional<QString> {
             if (!given.set)
                 return std::nullopt;
             into.inputFormat = DocumentKinds::ofInputFormat(given.value());
             if (!into.inputFormat)
                 return QStringLiteral("--input-format is ") + kinds.join(QStringLiteral(" or "));
             return std::nullopt;
         }},
        {QCommandLineOption(QStringLiteral("root-dir"),
                            QStringLiteral("Look for a document's links that start with / under DIR "
                                           "(default: the folder given, else the current one)."),
                            QStringLiteral("DIR")),
         [](const Given& given, I& into) -> std::optional<QString> {
             if (given.values.contains(QString()))
                 return QStringLiteral("--root-dir needs a path");
             into.rootDir = given.value();
             if (!into.rootDir.isEmpty() && !QFileInfo(into.rootDir).isDir())
                 return QStringLiteral("--root-dir names no folder: ") + into.rootDir;
             return std::nullopt;
         }},
        {QCommandLineOption(QStringLiteral("base"),
                            QStringLiteral("The documents are published at URL: ask their relative links as "
                                           "that site's addresses instead of looking for them on disk."),
                            QStringLiteral("URL")),
         [](const Given& given, I& into) -> std::optional<QString> {
             if (!given.set)
                 return std::nullopt;
             const QUrl url(given.value(), QUrl::StrictMode);
             if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty())
                 return QStringLiteral("--base takes an http or https address, such as https://example.org/docs/");
             // The links would resolve against it as a page's address, dropping both.
             if (url.hasQuery() || url.hasFragment())
                 return QStringLiteral("--base takes the folder's address without a query or fragment, such as "
                                       "https://example.org/docs/");
             into.base = url.toEncoded();
             return std::nullopt;
         }},
        {QCommandLineOption(QStringLiteral("exclude-path"),
                            QStringLiteral("Leave the file or folder PATH out of the folders read; once for each."),
                            QStringLiteral("PATH")),
         paths(&I::excludedPaths, "a path"), true},
    };
    return rows;
}
