#pragma once

#include <string>

// The last part of a path, after either kind of separator (session files may come from Windows).
inline std::string fileNameOf(const std::string &path)
{
	const size_t at = path.find_last_of("/\\");
	return at == std::string::npos ? path : path.substr(at + 1);
}
