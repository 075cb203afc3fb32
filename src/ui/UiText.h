#pragma once

// Locale keys of the dock and the settings dialog, in one place.

#include "util/ModuleCore.h"

#include <QString>

inline QString uiText(const char *key)
{
	return moduleQText(key);
}

namespace UiText {
// Dock
constexpr const char *Press = "Dock.Press";
constexpr const char *PressTip = "Dock.PressTip";
constexpr const char *MemoNone = "Dock.MemoNone";
constexpr const char *MemoTarget = "Dock.MemoTarget";
constexpr const char *MemoPlaceholder = "Dock.MemoPlaceholder";
constexpr const char *Memo = "Dock.Memo";
constexpr const char *MarkOnly = "Dock.MarkOnly";
constexpr const char *MarkOnlyTip = "Dock.MarkOnlyTip";
constexpr const char *Replay = "Dock.Replay";
constexpr const char *ReplayTip = "Dock.ReplayTip";
constexpr const char *StopReplay = "Dock.StopReplay";
constexpr const char *StartFreeSession = "Dock.StartFreeSession";
constexpr const char *EndFreeSession = "Dock.EndFreeSession";
constexpr const char *StartBuffer = "Dock.StartBuffer";
constexpr const char *Sessions = "Dock.Sessions";
constexpr const char *SessionNow = "Dock.SessionNow";
constexpr const char *NoSessions = "Dock.NoSessions";
constexpr const char *RemoveSession = "Dock.RemoveSession";
constexpr const char *RemoveSessionTip = "Dock.RemoveSessionTip";
constexpr const char *RemoveSessionTitle = "Dock.RemoveSessionTitle";
constexpr const char *RemoveSessionText = "Dock.RemoveSessionText";
constexpr const char *Shift = "Dock.Shift";
constexpr const char *ShiftTip = "Dock.ShiftTip";
constexpr const char *ShiftToSelected = "Dock.ShiftToSelected";
constexpr const char *ShiftToSelectedTip = "Dock.ShiftToSelectedTip";
constexpr const char *UrlPlaceholder = "Dock.UrlPlaceholder";
constexpr const char *UrlTip = "Dock.UrlTip";
constexpr const char *DropShort = "Dock.DropShort";
constexpr const char *DropShortTip = "Dock.DropShortTip";
constexpr const char *Copy = "Dock.Copy";
constexpr const char *CopyClips = "Dock.CopyClips";
constexpr const char *Export = "Dock.Export";
constexpr const char *ExportTip = "Dock.ExportTip";
constexpr const char *Folder = "Dock.Folder";
constexpr const char *Highlights = "Dock.Highlights";
constexpr const char *HighlightsTip = "Dock.HighlightsTip";
constexpr const char *Settings = "Dock.Settings";
constexpr const char *SettingsAccessible = "Dock.SettingsAccessible";

constexpr const char *StatusStreaming = "Status.Streaming";
constexpr const char *StatusRecording = "Status.Recording";
constexpr const char *StatusFree = "Status.Free";
constexpr const char *StatusIdle = "Status.Idle";

constexpr const char *BufferOn = "Buffer.On";
constexpr const char *BufferOff = "Buffer.Off";
constexpr const char *BufferSeconds = "Buffer.Seconds";
constexpr const char *BufferMinutes = "Buffer.Minutes";
constexpr const char *BufferMemory = "Buffer.Memory";
constexpr const char *BufferMemoryCapped = "Buffer.MemoryCapped";
constexpr const char *BufferDisabled = "Buffer.Disabled";
constexpr const char *BufferTip = "Buffer.Tip";

constexpr const char *MsgSessionNotRemoved = "Msg.SessionNotRemoved";
constexpr const char *MsgCopied = "Msg.Copied";
constexpr const char *MsgClipsCopied = "Msg.ClipsCopied";
constexpr const char *MsgBadTime = "Msg.BadTime";
constexpr const char *MsgFileGone = "Msg.FileGone";

constexpr const char *ReplayPlaying = "Replay.Playing";
constexpr const char *ReplayNoMedia = "Replay.NoMedia";
constexpr const char *ReplayNotPlaced = "Replay.NotPlaced";
constexpr const char *ReplayOpenFailed = "Replay.OpenFailed";
constexpr const char *ReplayTooShort = "Replay.TooShort";
constexpr const char *ReplayCouldNot = "Replay.CouldNot";

constexpr const char *RecapPlaying = "Recap.Playing";
constexpr const char *RecapEmpty = "Recap.Empty";
constexpr const char *RecapSetupMade = "Recap.SetupMade";
constexpr const char *RecapSetupAdded = "Recap.SetupAdded";

constexpr const char *SessionStream = "Session.Stream";
constexpr const char *SessionRecord = "Session.Record";
constexpr const char *SessionFree = "Session.Free";

// Session table
constexpr const char *ColChapter = "Col.Chapter";
constexpr const char *ColChapterTip = "Col.ChapterTip";
constexpr const char *ColTime = "Col.Time";
constexpr const char *ColTimeTip = "Col.TimeTip";
constexpr const char *ColKind = "Col.Kind";
constexpr const char *ColLabel = "Col.Label";
constexpr const char *ColLabelTip = "Col.LabelTip";
constexpr const char *ColClip = "Col.Clip";
constexpr const char *TimeBeforeCut = "Time.BeforeCut";
constexpr const char *TimeStreamTip = "Time.StreamTip";

constexpr const char *ClipWaiting = "Clip.Waiting";
constexpr const char *ClipFailed = "Clip.Failed";
constexpr const char *ClipFailedTip = "Clip.FailedTip";
constexpr const char *ClipNoBuffer = "Clip.NoBuffer";
constexpr const char *ClipNoBufferTip = "Clip.NoBufferTip";
constexpr const char *ClipShared = "Clip.Shared";
constexpr const char *ClipSharedTip = "Clip.SharedTip";
constexpr const char *ClipRangeTip = "Clip.RangeTip";

constexpr const char *CheckOk = "Check.Ok";
constexpr const char *CheckLastLater = "Check.LastLater";
constexpr const char *CheckOne = "Check.One";
constexpr const char *CheckMany = "Check.Many";
constexpr const char *CheckTitle = "Check.Title";
constexpr const char *CheckTooFew = "Check.TooFew";
constexpr const char *CheckFirstNotZero = "Check.FirstNotZero";
constexpr const char *CheckTooShort = "Check.TooShort";
constexpr const char *CheckEmptyLabel = "Check.EmptyLabel";

constexpr const char *MenuEditLabel = "Menu.EditLabel";
constexpr const char *MenuShiftHere = "Menu.ShiftHere";
constexpr const char *MenuReplay = "Menu.Replay";
constexpr const char *MenuShowFile = "Menu.ShowFile";
constexpr const char *MenuRemove = "Menu.Remove";
constexpr const char *MenuRemoveTitle = "Menu.RemoveTitle";
constexpr const char *MenuRemoveText = "Menu.RemoveText";

// Settings dialog
constexpr const char *SetTitle = "Settings.Title";
constexpr const char *SetPressGroup = "Settings.PressGroup";
constexpr const char *SetPressNote = "Settings.PressNote";
constexpr const char *SetPressClip = "Settings.PressClip";
constexpr const char *SetPressReplay = "Settings.PressReplay";
constexpr const char *SetHotkeyNote = "Settings.HotkeyNote";
constexpr const char *SetMarksGroup = "Settings.MarksGroup";
constexpr const char *SetMarksStart = "Settings.MarksStart";
constexpr const char *SetSceneMarks = "Settings.SceneMarks";
constexpr const char *SetRecordChapters = "Settings.RecordChapters";
constexpr const char *SetIgnoreScenes = "Settings.IgnoreScenes";
constexpr const char *SetExternalMarksHeading = "Settings.ExternalMarksHeading";
constexpr const char *SetExternalMarksNote = "Settings.ExternalMarksNote";
constexpr const char *SetMarksSong = "Settings.MarksSong";
constexpr const char *SetMarksTopic = "Settings.MarksTopic";
constexpr const char *SetMarksExternal = "Settings.MarksExternal";
constexpr const char *SetMarksNote = "Settings.MarksNote";
constexpr const char *SetFilesGroup = "Settings.FilesGroup";
constexpr const char *SetAutoBuffer = "Settings.AutoBuffer";
constexpr const char *SetBufferNote = "Settings.BufferNote";
constexpr const char *SetBufferNow = "Settings.BufferNow";
constexpr const char *SetBufferNowUnknown = "Settings.BufferNowUnknown";
constexpr const char *SetRename = "Settings.Rename";
constexpr const char *SetExportDir = "Settings.ExportDir";
constexpr const char *SetExportDirPlaceholder = "Settings.ExportDirPlaceholder";
constexpr const char *SetPick = "Settings.Pick";
constexpr const char *SetReplayGroup = "Settings.ReplayGroup";
constexpr const char *SetReplaySeconds = "Settings.ReplaySeconds";
constexpr const char *SetSecondsSuffix = "Settings.SecondsSuffix";
constexpr const char *SetReplaySpeed = "Settings.ReplaySpeed";
constexpr const char *SetReplayRepeat = "Settings.ReplayRepeat";
constexpr const char *SetReplayFromMemory = "Settings.ReplayFromMemory";
constexpr const char *SetReplayScene = "Settings.ReplayScene";
constexpr const char *SetReplayMedia = "Settings.ReplayMedia";
constexpr const char *SetMakeScene = "Settings.MakeScene";
constexpr const char *SetAddToScene = "Settings.AddToScene";
constexpr const char *SetReplayNote = "Settings.ReplayNote";
constexpr const char *SetVantorHeading = "Settings.VantorHeading";
constexpr const char *SetVantorStart = "Settings.VantorStart";
constexpr const char *SetVantorEnd = "Settings.VantorEnd";
constexpr const char *SetVantorNote = "Settings.VantorNote";
constexpr const char *SetVantorUnavailable = "Settings.VantorUnavailable";
constexpr const char *SetRecapGroup = "Settings.RecapGroup";
constexpr const char *SetRecapScene = "Settings.RecapScene";
constexpr const char *SetRecapMedia = "Settings.RecapMedia";
constexpr const char *SetRecapText = "Settings.RecapText";
constexpr const char *SetRecapSeconds = "Settings.RecapSeconds";
constexpr const char *SetHighlightsVideo = "Settings.HighlightsVideo";
constexpr const char *SetHighlightSeconds = "Settings.HighlightSeconds";
constexpr const char *SetMakeRecapScene = "Settings.MakeRecapScene";
constexpr const char *SetRecapNote = "Settings.RecapNote";
constexpr const char *SetupMade = "Setup.Made";
constexpr const char *SetupAdded = "Setup.Added";
} // namespace UiText
