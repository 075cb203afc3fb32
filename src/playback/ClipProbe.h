#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Duration of a clip read from its container header; valid false when unknown.
struct ProbeResult {
	long long ms = 0;
	bool valid = false;
};

// Reads the duration from an ISO media (".mp4", ".mov") or Matroska (".mkv") header, reading at most
// 4 MiB and 65536 headers. Never throws.
#ifdef _WIN32
ProbeResult probeClipDuration(const std::wstring &path);
#endif
ProbeResult probeClipDuration(const std::string &path);

// The same readers over bytes in memory; kind is ".mp4"/".mov"/".mkv" (tests and fuzzing).
ProbeResult probeClipBytes(const unsigned char *data, size_t size, const std::string &extension);

// Lower-case extension of a file name by the usual path rules (".mkv"), empty when there is none.
std::string clipExtension(const std::string &path);
