#include "session/SessionStore.h"

#include "util/AtomicFile.h"
#include "util/ModuleCore.h"
#include "util/Utf8.h"

#include <obs.hpp>
#include <util/platform.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {

const char *const kJsonExt = ".json";

bool isWindowsDeviceName(const std::string &id)
{
	// "CON.json" and friends open a device on Windows instead of a file.
	std::string base = id.substr(0, id.find('.'));
	for (char &c : base)
		if (c >= 'a' && c <= 'z')
			c = char(c - 'a' + 'A');
	static const char *const names[] = {"CON", "PRN", "AUX", "NUL"};
	for (const char *n : names)
		if (base == n)
			return true;
	if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
	    base[3] <= '9')
		return true;
	return false;
}

void appendJsonString(std::string &out, const std::string &text)
{
	static const char hex[] = "0123456789abcdef";
	out += '"';
	for (size_t i = 0; i < text.size();) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= 0x80) {
			const Utf8Sequence sequence = utf8SequenceAt(text, i);
			if (sequence.valid) {
				out.append(text, i, sequence.length);
				i += sequence.length;
			} else {
				out += "\xEF\xBF\xBD";
				++i;
			}
			continue;
		}
		++i;
		switch (c) {
		case '"':
			out += "\\\"";
			break;
		case '\\':
			out += "\\\\";
			break;
		case '\n':
			out += "\\n";
			break;
		case '\r':
			out += "\\r";
			break;
		case '\t':
			out += "\\t";
			break;
		case 0:
			// The reader refuses "\u0000"; a C string would end here anyway.
			break;
		default:
			if (c < 0x20) {
				out += "\\u00";
				out += hex[c >> 4];
				out += hex[c & 0xF];
			} else {
				out += char(c);
			}
		}
	}
	out += '"';
}

struct JsonObjectWriter {
	std::string &out;
	std::string indent;
	bool first = true;

	void key(const char *name)
	{
		out += first ? "\n" : ",\n";
		first = false;
		out += indent;
		out += "    \"";
		out += name;
		out += "\": ";
	}
	void num(const char *name, int64_t v)
	{
		key(name);
		out += std::to_string(v);
	}
	void flag(const char *name, bool v)
	{
		key(name);
		out += v ? "true" : "false";
	}
	void text(const char *name, const std::string &v)
	{
		key(name);
		appendJsonString(out, v);
	}
	void close() { out += first ? "}" : "\n" + indent + "}"; }
};

std::string pathInFolder(const std::string &id, const char *ext)
{
	if (!isPlainSessionId(id))
		return {};
	const std::string folder = sessionsFolder();
	if (folder.empty())
		return {};
	return folder + "/" + id + ext;
}

} // namespace

bool isPlainSessionId(const std::string &id)
{
	if (id.empty() || id == "." || id == "..")
		return false;
	for (char ch : id) {
		const unsigned char c = static_cast<unsigned char>(ch);
		if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':')
			return false;
	}
	return !isWindowsDeviceName(id);
}

std::string sessionsFolder()
{
	return moduleConfigPath("sessions");
}

std::string sessionFilePath(const std::string &id)
{
	return pathInFolder(id, kJsonExt);
}

std::string sessionFilePath(const Session &session)
{
	return sessionFilePath(session.id);
}

obs_data_t *sessionToData(const Session &s)
{
	obs_data_t *data = obs_data_create();
	writeSessionData(data, s);
	return data;
}

void writeSessionData(obs_data_t *data, const Session &s)
{
	obs_data_set_int(data, "format", 1);
	obs_data_set_string(data, "id", s.id.c_str());
	obs_data_set_string(data, "prefix", s.prefix.c_str());
	obs_data_set_int(data, "source", static_cast<int64_t>(s.source));
	obs_data_set_int(data, "start_wall_ms", s.start_wall_ms);
	obs_data_set_int(data, "end_wall_ms", s.end_wall_ms);
	obs_data_set_int(data, "length_ms", s.length_ms);
	obs_data_set_int(data, "shift_ms", s.shift_ms);
	obs_data_set_string(data, "archive_url", s.archive_url.c_str());
	obs_data_set_string(data, "export_dir", s.export_dir.c_str());
	obs_data_set_int(data, "next_id", s.next_id);
	obs_data_set_int(data, "next_number", s.next_number);
	OBSDataArrayAutoRelease entries = obs_data_array_create();
	for (const Entry &e : s.entries) {
		OBSDataAutoRelease item = obs_data_create();
		obs_data_set_int(item, "id", e.id);
		obs_data_set_int(item, "kind", static_cast<int64_t>(e.kind));
		obs_data_set_int(item, "t_ms", e.t_ms);
		obs_data_set_int(item, "wall_ms", e.wall_ms);
		obs_data_set_string(item, "label", e.label.c_str());
		obs_data_set_bool(item, "chapter", e.chapter);
		obs_data_set_int(item, "number", e.number);
		if (e.clip.state != ClipState::None) {
			OBSDataAutoRelease clip = obs_data_create();
			obs_data_set_int(clip, "state", static_cast<int64_t>(e.clip.state));
			obs_data_set_string(clip, "path", e.clip.path.c_str());
			obs_data_set_int(clip, "start_ms", e.clip.start_ms);
			obs_data_set_int(clip, "end_ms", e.clip.end_ms);
			obs_data_set_int(clip, "saved_wall_ms", e.clip.saved_wall_ms);
			obs_data_set_int(clip, "shared_with", e.clip.shared_with);
			obs_data_set_bool(clip, "want_replay", e.clip.want_replay);
			obs_data_set_obj(item, "clip", clip);
		}
		obs_data_array_push_back(entries, item);
	}
	obs_data_set_array(data, "entries", entries);
}

std::string sessionToJson(const Session &s)
{
	std::string out;
	out.reserve(512 + s.entries.size() * 260);
	out += '{';
	JsonObjectWriter top{out, ""};
	top.num("format", 1);
	top.text("id", s.id);
	top.text("prefix", s.prefix);
	top.num("source", static_cast<int64_t>(s.source));
	top.num("start_wall_ms", s.start_wall_ms);
	top.num("end_wall_ms", s.end_wall_ms);
	top.num("length_ms", s.length_ms);
	top.num("shift_ms", s.shift_ms);
	top.text("archive_url", s.archive_url);
	top.text("export_dir", s.export_dir);
	top.num("next_id", s.next_id);
	top.num("next_number", s.next_number);
	top.key("entries");
	out += '[';
	bool firstEntry = true;
	for (const Entry &e : s.entries) {
		out += firstEntry ? "\n        {" : ",\n        {";
		firstEntry = false;
		JsonObjectWriter item{out, "        "};
		item.num("id", e.id);
		item.num("kind", static_cast<int64_t>(e.kind));
		item.num("t_ms", e.t_ms);
		item.num("wall_ms", e.wall_ms);
		item.text("label", e.label);
		item.flag("chapter", e.chapter);
		item.num("number", e.number);
		if (e.clip.state != ClipState::None) {
			item.key("clip");
			out += '{';
			JsonObjectWriter clip{out, "            "};
			clip.num("state", static_cast<int64_t>(e.clip.state));
			clip.text("path", e.clip.path);
			clip.num("start_ms", e.clip.start_ms);
			clip.num("end_ms", e.clip.end_ms);
			clip.num("saved_wall_ms", e.clip.saved_wall_ms);
			clip.num("shared_with", e.clip.shared_with);
			clip.flag("want_replay", e.clip.want_replay);
			clip.close();
		}
		item.close();
	}
	out += firstEntry ? "]" : "\n    ]";
	top.close();
	out += '\n';
	return out;
}

Session sessionFromData(obs_data_t *data)
{
	Session s;
	if (!data)
		return s;
	s.id = obs_data_get_string(data, "id");
	s.prefix = obs_data_get_string(data, "prefix");
	s.source = static_cast<SessionSource>(static_cast<int32_t>(obs_data_get_int(data, "source")));
	s.start_wall_ms = obs_data_get_int(data, "start_wall_ms");
	s.end_wall_ms = obs_data_get_int(data, "end_wall_ms");
	s.length_ms = obs_data_get_int(data, "length_ms");
	s.shift_ms = obs_data_get_int(data, "shift_ms");
	s.archive_url = obs_data_get_string(data, "archive_url");
	s.export_dir = obs_data_get_string(data, "export_dir");
	const long long nextId = obs_data_get_int(data, "next_id");
	s.next_id = nextId > 1 ? nextId : 1;
	const int32_t nextNumber = static_cast<int32_t>(obs_data_get_int(data, "next_number"));
	s.next_number = nextNumber > 1 ? nextNumber : 1;

	OBSDataArrayAutoRelease entries = obs_data_get_array(data, "entries");
	const size_t count = entries ? obs_data_array_count(entries) : 0;
	s.entries.reserve(count);
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(entries, i);
		if (!item)
			continue;
		Entry e;
		e.id = obs_data_get_int(item, "id");
		e.kind = static_cast<EntryKind>(static_cast<int32_t>(obs_data_get_int(item, "kind")));
		e.t_ms = obs_data_get_int(item, "t_ms");
		e.wall_ms = obs_data_get_int(item, "wall_ms");
		e.label = obs_data_get_string(item, "label");
		e.chapter = obs_data_get_bool(item, "chapter");
		e.number = static_cast<int32_t>(obs_data_get_int(item, "number"));
		OBSDataAutoRelease clip = obs_data_get_obj(item, "clip");
		if (clip) {
			e.clip.state = static_cast<ClipState>(static_cast<int32_t>(obs_data_get_int(clip, "state")));
			e.clip.path = obs_data_get_string(clip, "path");
			e.clip.start_ms = obs_data_get_int(clip, "start_ms");
			e.clip.end_ms = obs_data_get_int(clip, "end_ms");
			e.clip.saved_wall_ms = obs_data_get_int(clip, "saved_wall_ms");
			e.clip.shared_with = obs_data_get_int(clip, "shared_with");
			e.clip.want_replay = obs_data_get_bool(clip, "want_replay");
		}
		if (s.next_id < e.id + 1)
			s.next_id = e.id + 1;
		s.entries.push_back(std::move(e));
	}
	std::stable_sort(s.entries.begin(), s.entries.end(),
			 [](const Entry &a, const Entry &b) { return a.t_ms < b.t_ms; });
	return s;
}

bool writeSessionText(const std::string &path, const std::string &json, int *error)
{
	const size_t slash = path.find_last_of('/');
	if (slash == std::string::npos) {
		if (error)
			*error = 0;
		return false;
	}
	os_mkdirs(path.substr(0, slash).c_str());
	return writeFileAtomically(path, json, KeepBackup::Yes, error);
}

bool saveSession(const Session &session, int *error)
{
	const std::string path = sessionFilePath(session);
	if (path.empty()) {
		if (error)
			*error = 0;
		return false;
	}
	return writeSessionText(path, sessionToJson(session), error);
}

bool loadSession(const std::string &id, Session &out)
{
	const std::string path = sessionFilePath(id);
	if (path.empty())
		return false;
	// The file itself; else what an interrupted write left: the complete new text, then the old one.
	for (const char *ext : {"", ".tmp", ".bak"}) {
		const std::string candidate = path + ext;
		// A folder of that name would be read as a file of absurd size.
		if (!QFileInfo(QString::fromUtf8(candidate.c_str())).isFile())
			continue;
		OBSDataAutoRelease data = obs_data_create_from_json_file(candidate.c_str());
		if (!data)
			continue;
		Session loaded = sessionFromData(data);
		// The file's name is the session's identity: a copy ("X - Copy.json") that still says "X"
		// inside must never be saved or exported as X, so its lists get names of their own too.
		if (loaded.id != id) {
			if (isPlainSessionId(loaded.id))
				loaded.prefix += id.compare(0, loaded.id.size(), loaded.id) == 0
						     ? id.substr(loaded.id.size())
						     : " (" + id + ")";
			loaded.id = id;
		}
		out = std::move(loaded);
		if (*ext) {
			pluginLog(LOG_WARNING, "session %s read from its %s file", id.c_str(), ext + 1);
			// Keep an unreadable file aside rather than over the backup, then write the file again.
			if (os_file_exists(path.c_str()))
				os_rename(path.c_str(), (path + ".broken").c_str());
			saveSession(out);
		}
		return true;
	}
	return false;
}

std::vector<std::string> listSessionIds()
{
	std::vector<std::string> ids;
	const std::string folder = sessionsFolder();
	if (folder.empty())
		return ids;
	// A write cut off between its two renames leaves only ".tmp" and ".bak", and a sync tool may carry
	// only the ".bak": each names the session once, when nothing before it in this order is there.
	QDirIterator it(QString::fromUtf8(folder.c_str()),
			{QStringLiteral("*.json"), QStringLiteral("*.json.tmp"), QStringLiteral("*.json.bak")},
			QDir::Files | QDir::Hidden | QDir::CaseSensitive);
	const size_t extLen = std::strlen(kJsonExt);
	while (it.hasNext()) {
		it.next();
		std::string name = it.fileName().toUtf8().toStdString();
		const bool bak = name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0;
		if (bak || (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)) {
			name.resize(name.size() - 4);
			const std::string path = folder + "/" + name;
			if (os_file_exists(path.c_str()) || (bak && os_file_exists((path + ".tmp").c_str())))
				continue;
		}
		if (name.size() <= extLen || name.compare(name.size() - extLen, extLen, kJsonExt) != 0)
			continue;
		if (isPlainSessionId(name.substr(0, name.size() - extLen)))
			ids.push_back(std::move(name));
	}
	// Whole file names, byte order, descending: ids start with the start time, so newest first.
	std::sort(ids.begin(), ids.end(), std::greater<std::string>());
	for (std::string &name : ids)
		name.resize(name.size() - extLen);
	return ids;
}

bool sessionFilesExist(const std::string &id)
{
	const std::string path = sessionFilePath(id);
	return !path.empty() && (os_file_exists(path.c_str()) || os_file_exists((path + ".tmp").c_str()) ||
				 os_file_exists((path + ".bak").c_str()));
}

bool removeSessionFiles(const std::string &id)
{
	const std::string path = sessionFilePath(id);
	if (!sessionFilesExist(id))
		return false;
	os_unlink((path + ".bak").c_str());
	os_unlink((path + ".tmp").c_str());
	os_unlink(path.c_str());
	return !sessionFilesExist(id);
}

bool removeSessionFiles(const Session &session)
{
	return removeSessionFiles(session.id);
}
