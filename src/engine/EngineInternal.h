#pragma once

// Helpers shared by the Engine's source files only.

#include "util/Utf8.h"

#include <QString>
#include <QStringList>

#include <string>

namespace EngineText {
// Status messages.
constexpr const char *Marked = "Msg.Marked";
constexpr const char *Saving = "Msg.Saving";
constexpr const char *NoBuffer = "Msg.NoBuffer";
constexpr const char *Saved = "Msg.Saved";
constexpr const char *SavedNoReplay = "Msg.SavedNoReplay";
constexpr const char *ObsSavedMarked = "Msg.ObsSavedMarked";
constexpr const char *SaveFailed = "Msg.SaveFailed";
constexpr const char *BufferStopped = "Msg.BufferStopped";
constexpr const char *ReplayLatency = "Msg.ReplayLatency";
constexpr const char *SessionRemoved = "Msg.SessionRemoved";
constexpr const char *Exported = "Msg.Exported";
constexpr const char *ExportFailed = "Msg.ExportFailed";
constexpr const char *TextTooLong = "Msg.TextTooLong";
constexpr const char *SessionNotSaved = "Msg.SessionNotSaved";
constexpr const char *SessionsSavedAgain = "Msg.SessionsSavedAgain";
// Why a session file could not be written.
constexpr const char *WhyDiskFull = "Msg.WhyDiskFull";
constexpr const char *WhyNoAccess = "Msg.WhyNoAccess";
constexpr const char *WhyInUse = "Msg.WhyInUse";
constexpr const char *WhyUnknown = "Msg.WhyUnknown";
// Label of a session's start mark.
constexpr const char *StartLabel = "Label.Start";
} // namespace EngineText

namespace EngineTiming {
constexpr int SaveDelayMs = 400;
constexpr long long SaveCapMs = 2000;
constexpr int ExportDelayMs = 1500;
// A session file that could not be written is tried again after this, doubling up to the cap.
constexpr int SaveRetryFirstMs = 2000;
constexpr int SaveRetryMaxMs = 30000;
constexpr int RenameTickMs = 1000;
constexpr int SaveLimitMs = 30000;
constexpr int SaveLimitAfterStopMs = 3000;
constexpr long long DefaultSaveLatencyMs = 1300;
constexpr size_t LatencyHistory = 5;
constexpr long long ReplayWindowMs = 20000;
constexpr long long RenameAfterSaveMs = 15000;
constexpr long long RenameAfterEditMs = 2500;
constexpr long long RenameRetryMs = 5000;
constexpr int RenameMaxAttempts = 120;
constexpr long long RenameAfterReplayMs = 300;
constexpr long long DuplicateWindowMs = 2000;
constexpr long long RemuxCopyAgeMs = 60000;
// A fresh replay file is moved aside as soon as OBS's remux has opened it; these bound the wait.
constexpr int FreshTickMs = 20;
constexpr long long RemuxStartWaitMs = 1000;
constexpr long long FreshMoveLimitMs = 3000;
// While only clips kept aside are watched (waiting for OBS's name to move on), a slower tick.
constexpr int FreshAsideTickMs = 100;
// Stored sessions loaded for an export, the recap or a look stay this long after the last load.
constexpr int SessionCacheTrimMs = 30000;
// The newest stored sessions, kept loaded: the dock, the recap and the lists ask for them most.
constexpr size_t KeptStoredSessions = 8;
} // namespace EngineTiming

// True (and a warning logged) when text is too long to take.
bool refuseLongText(const std::string &text, const char *what);

// Renames a file without ever copying it or replacing an existing file; false when the file
// system refuses (the file is held open, the target exists).
bool moveFileNoReplace(const QString &from, const QString &to);

// The endings after a clip's complete base name of the copies OBS's automatic remux writes beside
// it: ".mp4" for a clip of another container, ".remuxed.<suffix>" for fragmented MP4 or MOV (OBS 30+).
QStringList remuxCopyTails(const QString &suffix);

// The localised message of key with %1 and %2 filled in.
QString engineMessage(const char *key, const std::string &first = std::string(),
		      const std::string &second = std::string());

// nowNs moved back by the time that frames of video at fpsNum/fpsDen take; nowNs when unknown.
long long backdateByFrames(long long nowNs, long long frames, unsigned fpsNum, unsigned fpsDen);
