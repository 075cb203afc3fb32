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
// The highlights video.
constexpr const char *HighlightsBusy = "Msg.HighlightsBusy";
constexpr const char *HighlightsNone = "Msg.HighlightsNone";
constexpr const char *HighlightsProgress = "Msg.HighlightsProgress";
constexpr const char *HighlightsWritten = "Msg.HighlightsWritten";
constexpr const char *HighlightsFailed = "Msg.HighlightsFailed";
constexpr const char *HighlightsLeftOut = "Msg.HighlightsLeftOut";
// Label of a session's start mark.
constexpr const char *StartLabel = "Label.Start";
} // namespace EngineText

namespace EngineTiming {
// Session files: a burst of changes (typed labels, a batch of saved clips) gives one write, soon
// enough that a crash loses little; a steady stream of changes still reaches the disk every SaveCapMs.
constexpr int SaveDelayMs = 400;
constexpr long long SaveCapMs = 2000;
// Rewriting three lists and the quotes file costs more than a session file; edits in a row wait longer.
constexpr int ExportDelayMs = 1500;
// A session file that could not be written is tried again after this, doubling up to the cap: a
// passing lock clears at the first tries, a full disk is not hammered.
constexpr int SaveRetryFirstMs = 2000;
constexpr int SaveRetryMaxMs = 30000;
// Rename delays are seconds long; a tick a second is fine enough.
constexpr int RenameTickMs = 1000;
// Even a long buffer on a slow disk is written well within this; past it OBS is taken to have
// dropped the request, the batch fails and the next one goes out (the warning names the 30 s).
constexpr int SaveLimitMs = 30000;
// A stopped buffer still delivers the file it was writing within moments, or never.
constexpr int SaveLimitAfterStopMs = 3000;
// A usual time from a save request to OBS's saved event, until one has been measured.
constexpr long long DefaultSaveLatencyMs = 1300;
// The mean of the last few saves follows the disk and the buffer's size; one slow save does not swing it.
constexpr size_t LatencyHistory = 5;
// A replay that comes later than this would break into whatever the stream has moved on to.
constexpr long long ReplayWindowMs = 20000;
// In a fresh file's first seconds the instant replay, OBS's remux and clients told of the save read it
// under OBS's name; renaming after them spares a refused first try.
constexpr long long RenameAfterSaveMs = 15000;
// Label typing and shift changes come in bursts: one rename after the last.
constexpr long long RenameAfterEditMs = 2500;
// A held file is tried every 5 s for about ten minutes (the log says so), then keeps its name.
constexpr long long RenameRetryMs = 5000;
constexpr int RenameMaxAttempts = 120;
// A clip held by the replay is renamed just after the player lets go of it.
constexpr long long RenameAfterReplayMs = 300;
// Two scripts or a retry that send the same mark do so within this.
constexpr long long DuplicateWindowMs = 2000;
// A copy beside a clip that is older than this is a leftover of the same name, not this save's remux.
constexpr long long RemuxCopyAgeMs = 60000;
// A fresh replay file is moved aside as soon as OBS's remux has opened it; these bound the wait.
// OBS names saves by the clock second, so the move has to beat the next second: a short tick, at most
// a second's wait for the remux, and a move that keeps failing is given up after a few seconds.
constexpr int FreshTickMs = 20;
constexpr long long RemuxStartWaitMs = 1000;
constexpr long long FreshMoveLimitMs = 3000;
// While only clips kept aside are watched (waiting for OBS's name to move on), a slower tick.
constexpr int FreshAsideTickMs = 100;
// A file's events wait for the name it keeps, which comes within a few seconds (the clock second, the
// remux's start, a few tries to move back); past this they name it where it is.
constexpr long long EventHoldLimitMs = 10000;
// Stored sessions loaded for an export, the recap or a look stay this long after the last load, so
// that a run of look-ups reads each file once.
constexpr int SessionCacheTrimMs = 30000;
// The newest stored sessions, kept loaded: the dock, the recap and the lists ask for them most.
constexpr size_t KeptStoredSessions = 8;
} // namespace EngineTiming

// True (and a warning logged) when text is too long to take.
bool refuseLongText(const std::string &text, const char *what);

// The same file's path (case and Unicode form aside where the file system ignores them).
bool samePath(const QString &a, const QString &b);

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
