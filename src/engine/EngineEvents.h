#pragma once

// What the Engine tells remote clients, as plain values; remote/ writes them in the wire format.

#include <string>
#include <variant>

// A mark was added, or its clip was saved or lost.
struct EntryEvent {
	enum class Type { Marked, ClipSaved };
	Type type = Type::Marked;
	std::string sessionId;
	long long entryId = 0;
	int kind = 0;
	long long tMs = 0;
	std::string label;
	long long number = 0;
	int clipState = 0;
	bool hasFile = false; // a saved clip whose owner is known
	std::string file;     // the owner's file name
};

struct ReplayStartedEvent {
	std::string file; // empty while a memory replay's clip is unsaved
	long long entryId = 0;
	long long seconds = 0;
	long long speed = 0;
	long long latencyMs = 0;
	long long repeat = 0;
};

struct ReplayEndedEvent {
	std::string file;
	long long entryId = 0;
};

struct RecapClipEvent {
	std::string file;
	std::string memo;
	long long index = 0;
	long long count = 0;
};

struct SessionEndedEvent {
	std::string sessionId;
	long long lengthMs = 0;
};

struct HighlightsWrittenEvent {
	std::string sessionId;
	std::string file; // the full path
	long long stretches = 0;
	long long durationMs = 0;
};

using EngineEvent = std::variant<EntryEvent, ReplayStartedEvent, ReplayEndedEvent, RecapClipEvent, SessionEndedEvent,
				 HighlightsWrittenEvent>;

// Figures of the status that remote clients read.
struct EngineFigures {
	long long replayLatencyMs = 0; // of the last replay, from its request to its start
	int recordingChaptersAdded = 0;
	bool savePending = false; // presses wait for a save or for its file
};
