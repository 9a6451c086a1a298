#pragma once

#include "cli/options/OptionGroup.h"
#include "engine/extract/DocumentKind.h"

#include <QByteArray>

#include <optional>

// How the files named are read, and where a document's links lead.
struct InputOptions {
    std::optional<DocumentKind> inputFormat;  // every file read as this kind; none: by its name
    QString rootDir;                          // where a document's "/x" starts; empty: the folder given
    QByteArray base;                          // the address the documents are published at; empty: on disk
    QStringList excludedPaths;                // left out of the folders walked

    static const OptionTable<InputOptions>& table();
};
