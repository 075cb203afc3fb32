// libFuzzer entry for the session-file loader: the input becomes the ".json" file, its ".bak" backup
// or both (split at the first NUL), then it is loaded the way the Engine loads a stored session.
// Whatever was read must be saved and read back to the same session, and nothing outside the
// sessions folder may be named.
#include "util/ModuleCore.h"
#include "session/SessionStore.h"

#include <obs.hpp>

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void check(bool ok)
{
	if (!ok)
		__builtin_trap();
}

void writeBytes(const std::string &path, const uint8_t *data, size_t size)
{
	FILE *f = fopen(path.c_str(), "wb");
	check(f != nullptr);
	if (size)
		fwrite(data, 1, size, f);
	fclose(f);
}

QTemporaryDir *configDir()
{
	static QTemporaryDir *dir = [] {
		auto *d = new QTemporaryDir();
		setModuleConfigDirForTesting(d->path().toStdString());
		QDir().mkpath(d->path() + "/sessions");
		return d;
	}();
	return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	configDir();
	const std::string id = "2026-01-01_00-00-00";
	const std::string path = sessionFilePath(id);
	check(!path.empty());
	std::remove(path.c_str());
	std::remove((path + ".bak").c_str());

	// First byte: which files exist. Then the main file's bytes, a NUL, the backup's bytes.
	const uint8_t layout = size ? data[0] % 3 : 0;
	const uint8_t *rest = size ? data + 1 : data;
	const size_t restSize = size ? size - 1 : 0;
	const void *nul = memchr(rest, 0, restSize);
	const size_t mainSize = nul ? size_t(static_cast<const uint8_t *>(nul) - rest) : restSize;
	const uint8_t *bak = nul ? static_cast<const uint8_t *>(nul) + 1 : rest + restSize;
	const size_t bakSize = restSize - mainSize - (nul ? 1 : 0);
	if (layout != 1)
		writeBytes(path, rest, mainSize);
	if (layout != 0)
		writeBytes(path + ".bak", bak, bakSize);

	Session loaded;
	loaded.prefix = "untouched";
	if (!loadSession(id, loaded)) {
		check(loaded.prefix == "untouched");
		return 0;
	}
	// An id that could not name its own file again is never kept.
	check(isPlainSessionId(loaded.id));
	check(loaded.next_id >= 1 && loaded.next_number >= 1);
	for (size_t i = 1; i < loaded.entries.size(); ++i)
		check(loaded.entries[i - 1].t_ms <= loaded.entries[i].t_ms);
	for (const Entry &e : loaded.entries)
		check(e.id < loaded.next_id);

	// The file we write for it reads back to the same text.
	const std::string json = sessionToJson(loaded);
	OBSDataAutoRelease again = obs_data_create_from_json(json.c_str());
	check(again != nullptr);
	Session reread = sessionFromData(again);
	if (!isPlainSessionId(reread.id))
		reread.id = loaded.id;
	check(sessionToJson(reread) == json);

	if (loaded.id != id) {
		const std::string folder = sessionsFolder();
		check(sessionFilePath(loaded.id).rfind('/') == folder.size());
		if (saveSession(loaded))
			check(removeSessionFiles(loaded.id));
	}
	return 0;
}
