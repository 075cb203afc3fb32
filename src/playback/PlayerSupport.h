#pragma once

// What the two players share around OBS's media source: the clip settings they load with, the
// unload, the leads they learn, and (for the recap) known clip lengths, visibility changes without
// transitions and the hook that seeks the moment a clip starts.

#include "playback/ClipProbe.h"

#include <obs.hpp>

#include <QString>

#include <map>
#include <memory>
#include <vector>

// Settings that load file into media to play once at speedPercent.
OBSDataAutoRelease clipSettings(obs_source_t *media, const QString &file, int speedPercent);
// Stops media and empties its file, so nothing of the last clip stays loaded.
void stopAndUnloadMedia(obs_source_t *media);

// How long before a clip's end a player acts (seeks back, or loads the next clip), learned per file
// key: the default until the clip ended before the action took effect, then one step more each time.
class LeadLearner {
public:
	long long leadFor(const QString &key) const;
	// The clip reached its end first: returns the longer lead used from now on.
	long long learnTooLate(const QString &key);
	void clear() { leads.clear(); }

private:
	std::map<QString, long long> leads;
};

// Clip lengths read from the file's header, kept per file key while the file's size and time stay
// the same; the length seen while playing stands in when the header tells none.
class ClipLengths {
public:
	// freshlyProbed: set when the file was read now (it was unknown or changed).
	ProbeResult lengthOf(const QString &key, const QString &file, bool &freshlyProbed);
	void recordPlayed(const QString &key, const QString &file, long long ms);

private:
	struct Known {
		long long size = -1;
		long long mtimeMs = 0;
		ProbeResult probed;
		ProbeResult played;
	};
	std::map<QString, Known> known;
};

// Changes an item's visibility without playing its show or hide transition.
void setVisibleNow(obs_sceneitem_t *item, bool visible);
// Hides, without transition, the visible items of scene that show source; returns them.
std::vector<OBSSceneItemAutoRelease> hideItemsNow(obs_scene_t *scene, obs_source_t *source);

// Seeks a media source to a known time on the thread that emits "media_started", as soon as it
// starts the expected file, so the first frames shown are already near the target.
class MediaStartHook {
public:
	MediaStartHook();
	~MediaStartHook();
	MediaStartHook(const MediaStartHook &) = delete;
	MediaStartHook &operator=(const MediaStartHook &) = delete;

	// targetMs < 0: only note the start.
	void arm(obs_source_t *source, const QString &file, long long targetMs);
	void reset();

	struct Seen {
		bool started = false;
		bool seekedEarly = false;
	};
	Seen seen() const;

private:
	struct Shared;
	std::unique_ptr<Shared> shared;
	OBSSourceAutoRelease heldMedia;
};
