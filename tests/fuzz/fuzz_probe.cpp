// libFuzzer entry for the clip duration probe: the first byte picks the container reader.
#include "playback/ClipProbe.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	static const char *const kinds[] = {".mp4", ".mov", ".mkv"};
	const char *kind = kinds[data[0] % 3];
	ProbeResult r = probeClipBytes(data + 1, size - 1, kind);
	if (r.valid && r.ms < 1)
		__builtin_trap();
	return 0;
}
