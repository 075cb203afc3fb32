#pragma once

// Locale keys used by the playback subsystem.
namespace PlaybackText {
constexpr const char *SetupNoName = "Setup.NoName";
constexpr const char *SetupSceneNameTaken = "Setup.SceneNameTaken";
constexpr const char *SetupMediaNameTaken = "Setup.MediaNameTaken";
constexpr const char *SetupFailed = "Setup.Failed";
constexpr const char *SetupNoScene = "Setup.NoScene";
constexpr const char *SetupPickOtherScene = "Setup.PickOtherScene";
constexpr const char *SetupAlreadyThere = "Setup.AlreadyThere";
constexpr const char *RecapNoName = "Recap.NoName";
constexpr const char *RecapReplayNameTaken = "Recap.ReplayNameTaken";
constexpr const char *RecapSameNames = "Recap.SameNames";
constexpr const char *RecapTextNameTaken = "Recap.TextNameTaken";
constexpr const char *RecapPickOtherScene = "Recap.PickOtherScene";
} // namespace PlaybackText
