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
#include <tuple>
#include <type_traits>

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

// Every member of the session file, in the file's order; the same table writes the remote reply
// and reads both back, so a field is added in one place.
template <typename Owner, typename T> struct Field {
	const char *key;
	T Owner::*member;
};

template <typename Owner, typename T> constexpr Field<Owner, T> field(const char *key, T Owner::*member)
{
	return {key, member};
}

constexpr std::tuple kSessionFields{
    field("id", &Session::id),
    field("prefix", &Session::prefix),
    field("source", &Session::source),
    field("start_wall_ms", &Session::start_wall_ms),
    field("end_wall_ms", &Session::end_wall_ms),
    field("length_ms", &Session::length_ms),
    field("shift_ms", &Session::shift_ms),
    field("archive_url", &Session::archive_url),
    field("export_dir", &Session::export_dir),
    field("next_id", &Session::next_id),
    field("next_number", &Session::next_number),
};

constexpr std::tuple kEntryFields{
    field("id", &Entry::id),           field("kind", &Entry::kind),   field("t_ms", &Entry::t_ms),
    field("wall_ms", &Entry::wall_ms), field("label", &Entry::label), field("chapter", &Entry::chapter),
    field("number", &Entry::number),
};

constexpr std::tuple kClipFields{
    field("state", &Clip::state),
    field("path", &Clip::path),
    field("start_ms", &Clip::start_ms),
    field("end_ms", &Clip::end_ms),
    field("saved_wall_ms", &Clip::saved_wall_ms),
    field("shared_with", &Clip::shared_with),
    field("want_replay", &Clip::want_replay),
};

const char *const kFormatKey = "format";
const int64_t kFormat = 1;
const char *const kEntriesKey = "entries";
const char *const kClipKey = "clip";
// Only in a copy, so that the files of every other session stay as they were.
const char *const kCopyOfKey = "copy_of";

// An entry without a clip has no clip object at all.
bool hasClip(const Entry &entry)
{
	return entry.clip.state != ClipState::None;
}

// Calls fn(key, member pointer) for every field of the table, in order.
template <typename Fields, typename Fn> void forEachField(const Fields &fields, Fn &&fn)
{
	std::apply([&fn](const auto &...each) { (fn(each.key, each.member), ...); }, fields);
}

// Numbers are 64-bit in the file; codes and narrower counters are widened on the way out and
// narrowed back, sign kept, on the way in.
template <typename T> int64_t asNumber(T value)
{
	return static_cast<int64_t>(value);
}

template <typename T> T fromNumber(long long value)
{
	if constexpr (std::is_enum_v<T>)
		return static_cast<T>(static_cast<std::underlying_type_t<T>>(value));
	else
		return static_cast<T>(value);
}

template <typename T> void setMember(obs_data_t *data, const char *key, const T &value)
{
	if constexpr (std::is_same_v<T, std::string>)
		obs_data_set_string(data, key, value.c_str());
	else if constexpr (std::is_same_v<T, bool>)
		obs_data_set_bool(data, key, value);
	else
		obs_data_set_int(data, key, asNumber(value));
}

template <typename T> void getMember(obs_data_t *data, const char *key, T &value)
{
	if constexpr (std::is_same_v<T, std::string>)
		value = obs_data_get_string(data, key);
	else if constexpr (std::is_same_v<T, bool>)
		value = obs_data_get_bool(data, key);
	else
		value = fromNumber<T>(obs_data_get_int(data, key));
}

template <typename Fields, typename Owner> void setMembers(obs_data_t *data, const Fields &fields, const Owner &owner)
{
	forEachField(fields, [&](const char *key, auto member) { setMember(data, key, owner.*member); });
}

template <typename Fields, typename Owner> void getMembers(obs_data_t *data, const Fields &fields, Owner &owner)
{
	forEachField(fields, [&](const char *key, auto member) { getMember(data, key, owner.*member); });
}

// One JSON object of the file: four spaces of indent per level, one member a line.
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
	template <typename T> void member(const char *name, const T &value)
	{
		key(name);
		if constexpr (std::is_same_v<T, std::string>)
			appendJsonString(out, value);
		else if constexpr (std::is_same_v<T, bool>)
			out += value ? "true" : "false";
		else
			out += std::to_string(asNumber(value));
	}
	template <typename Fields, typename Owner> void members(const Fields &fields, const Owner &owner)
	{
		forEachField(fields, [&](const char *name, auto field) { member(name, owner.*field); });
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
	obs_data_set_int(data, kFormatKey, kFormat);
	setMembers(data, kSessionFields, s);
	if (!s.copy_of.empty())
		obs_data_set_string(data, kCopyOfKey, s.copy_of.c_str());
	OBSDataArrayAutoRelease entries = obs_data_array_create();
	for (const Entry &e : s.entries) {
		OBSDataAutoRelease item = obs_data_create();
		setMembers(item, kEntryFields, e);
		if (hasClip(e)) {
			OBSDataAutoRelease clip = obs_data_create();
			setMembers(clip, kClipFields, e.clip);
			obs_data_set_obj(item, kClipKey, clip);
		}
		obs_data_array_push_back(entries, item);
	}
	obs_data_set_array(data, kEntriesKey, entries);
}

std::string sessionToJson(const Session &s)
{
	std::string out;
	out.reserve(512 + s.entries.size() * 260);
	out += '{';
	JsonObjectWriter top{out, ""};
	top.member(kFormatKey, kFormat);
	top.members(kSessionFields, s);
	if (!s.copy_of.empty())
		top.member(kCopyOfKey, s.copy_of);
	top.key(kEntriesKey);
	out += '[';
	for (const Entry &e : s.entries) {
		out += &e == &s.entries.front() ? "\n        {" : ",\n        {";
		JsonObjectWriter item{out, "        "};
		item.members(kEntryFields, e);
		if (hasClip(e)) {
			item.key(kClipKey);
			out += '{';
			JsonObjectWriter clip{out, "            "};
			clip.members(kClipFields, e.clip);
			clip.close();
		}
		item.close();
	}
	out += s.entries.empty() ? "]" : "\n    ]";
	top.close();
	out += '\n';
	return out;
}

Session sessionFromData(obs_data_t *data)
{
	Session s;
	if (!data)
		return s;
	getMembers(data, kSessionFields, s);
	s.copy_of = obs_data_get_string(data, kCopyOfKey);
	s.next_id = std::max<int64_t>(s.next_id, 1);
	s.next_number = std::max<int32_t>(s.next_number, 1);

	OBSDataArrayAutoRelease entries = obs_data_get_array(data, kEntriesKey);
	const size_t count = entries ? obs_data_array_count(entries) : 0;
	s.entries.reserve(count);
	for (size_t i = 0; i < count; ++i) {
		OBSDataAutoRelease item = obs_data_array_item(entries, i);
		if (!item)
			continue;
		Entry e;
		getMembers(item, kEntryFields, e);
		OBSDataAutoRelease clip = obs_data_get_obj(item, kClipKey);
		if (clip)
			getMembers(clip, kClipFields, e.clip);
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
		// inside must never be saved or exported as X, so its lists get names of their own too. It
		// remembers X, whose clips it names, from then on.
		if (loaded.id != id) {
			if (isPlainSessionId(loaded.id)) {
				loaded.prefix += id.compare(0, loaded.id.size(), loaded.id) == 0
						     ? id.substr(loaded.id.size())
						     : " (" + id + ")";
				loaded.copy_of = loaded.id;
			}
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
