#pragma once

#include "session/Session.h"

#include <obs.h>
#include <string>
#include <vector>

// Session files: one JSON file per session in the module's "sessions" folder, replaced through a
// ".tmp" file with the old content kept as ".bak". No state between calls; UI thread only, but for
// writeSessionText, which the session writer's thread runs.

// True when the id can name a file inside the sessions folder: not empty, not "." or "..", and free
// of "/", "\", ':' and control characters. Ids from outside that fail are treated as unknown.
bool isPlainSessionId(const std::string &id);

// Empty when the host gives no configuration folder.
std::string sessionsFolder();

// "<folder>/<id>.json"; empty when the id is not plain or there is no folder.
std::string sessionFilePath(const Session &session);
std::string sessionFilePath(const std::string &id);

// New settings-data object; the caller releases it (OBSDataAutoRelease).
obs_data_t *sessionToData(const Session &session);
// The same members written into an existing object (a request's reply), without a copy in between.
void writeSessionData(obs_data_t *data, const Session &session);
Session sessionFromData(obs_data_t *data);

// The JSON text of the session file: members in the documented order at every level, texts that
// are not valid UTF-8 repaired so the file always reads back.
std::string sessionToJson(const Session &session);

// On failure, error (when given) gets the C library's error number, 0 when no file could be named.
bool saveSession(const Session &session, int *error = nullptr);
// Writes a session's JSON text to its file path (sessionFilePath), making the folder when missing.
// Touches nothing but the files, so any thread may call it.
bool writeSessionText(const std::string &path, const std::string &json, int *error = nullptr);
// Fills out only when a file (or its backup) was read.
bool loadSession(const std::string &id, Session &out);
// Stored ids, newest first.
std::vector<std::string> listSessionIds();
// Deletes the ".bak", ".tmp" and ".json" files; true when there was one and none is left.
bool removeSessionFiles(const Session &session);
bool removeSessionFiles(const std::string &id);
// True when the ".json", ".tmp" or ".bak" file of the id is there.
bool sessionFilesExist(const std::string &id);
