#pragma once

// Texts inside the plug-in are UTF-8 byte strings; Qt strings only at the widget and file boundaries.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <string>

// Longest label, address or name taken from a user or a client, in UTF-8 bytes. A memo or a song title
// is far shorter; anything longer would bloat every session file, list and dock row.
constexpr size_t kMaxTextBytes = 4096;

inline std::string toUtf8(const QString &text)
{
	const QByteArray bytes = text.toUtf8();
	return std::string(bytes.constData(), size_t(bytes.size()));
}

inline QString fromUtf8(const std::string &text)
{
	return QString::fromUtf8(text.data(), int(text.size()));
}
