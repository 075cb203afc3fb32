#pragma once

#include <string>

// Whether a replaced file's previous content stays beside it as "<path>.bak".
enum class KeepBackup : bool { No = false, Yes = true };

// The bytes go completely to "<path>.tmp" and to the disk first; the temporary file then takes the
// file's name in one step, so at every moment "<path>" is whole, old or new. With a backup the old
// content is kept as "<path>.bak" while "<path>" itself stays in place. A failed write leaves the file
// as it was and no ".tmp" behind. error (when given) gets the C library's error number, 0 on success.
// Touches nothing but the files, so any thread may call it.
bool writeFileAtomically(const std::string &path, const std::string &bytes, KeepBackup backup, int *error = nullptr);
