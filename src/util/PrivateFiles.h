#pragma once

#include <QString>

#include <cstddef>
#include <string>

// Files of ours outside the user's own folders (temporary files above all) live in a folder only
// this account can enter, and each is made new there, so no other account can plant a link or a
// file under a name we are about to use.
namespace PrivateFiles {

// <base>/<name>, made 0700 when missing. An existing one must be a real folder (no link) of this
// account that nobody else can write into; it is then tightened to 0700. Empty, with the reason,
// otherwise: such a folder is never used.
QString ensureFolder(const QString &base, const QString &name, std::string &why);

// Makes the file new, readable by this account only: never through a link, never an existing file.
// The descriptor, or -1 with the reason.
int createFile(const QString &path, std::string &why);
// All of the bytes, or false.
bool writeAll(int fd, const void *data, size_t size);
void closeFile(int fd);

// True for a regular file (no link) of this account.
bool ownRegularFile(const QString &path);

// True when no process of that id runs any more.
bool processGone(long long pid);

} // namespace PrivateFiles
