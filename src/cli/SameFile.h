#pragma once

#include <QString>

#include <sys/stat.h>

// Whether two names lead to one file, so that writing one would overwrite
// the other: an existing regular file by its device and inode (another hard
// link or a symbolic link to it is the same file), a name with no file yet by
// its absolute path.
namespace SameFile {
bool names(const QString& one, const QString& other);
// Whether the name leads to the regular file with this status (a list being
// read, the report's output).
bool is(const QString& name, const struct stat& file);
}
