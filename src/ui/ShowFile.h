#pragma once

#include <QString>

// Opens the system file manager with the file selected: Explorer on Windows, the desktop's file
// manager over D-Bus elsewhere, and the containing folder when neither can be asked.
// False when nothing could be started.
bool showFileInFileManager(const QString &path);
