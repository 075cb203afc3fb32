#pragma once

// Texts inside the plug-in are UTF-8 byte strings; Qt strings only at the widget and file boundaries.

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// The character whose first byte is text[at]: its bytes, as many as the lead byte announces but cut at
// the first byte that cannot continue it (at least 1), and whether they form a valid character.
// Overlong forms, surrogates and code points above U+10FFFF are not valid, as the JSON reader refuses them.
struct Utf8Sequence {
	size_t length;
	bool valid;
};

inline Utf8Sequence utf8SequenceAt(const std::string &text, size_t at)
{
	const auto byte = [&text](size_t index) { return static_cast<unsigned char>(text[index]); };
	const unsigned char lead = byte(at);
	if (lead < 0x80)
		return {1, true};
	const size_t announced = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
	const size_t available = std::min(announced, text.size() - at);
	uint32_t codePoint = lead & (0x7Fu >> announced);
	size_t length = 1;
	for (; length < available && (byte(at + length) & 0xC0) == 0x80; ++length)
		codePoint = (codePoint << 6) | (byte(at + length) & 0x3F);
	const uint32_t smallest = announced == 2 ? 0x80 : announced == 3 ? 0x800 : 0x10000;
	const bool valid = lead >= 0xC2 && lead <= 0xF4 && length == announced && codePoint >= smallest &&
			   codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
	return {length, valid};
}
