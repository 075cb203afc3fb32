#pragma once

// The replay buffer as the profile and its running output describe it, and when its run began.

// What the replay buffer is configured to do and what it would cost; field names are the keys
// of the "buffer" object that remote clients see.
struct BufferStatus {
	bool enabled = false;
	bool active = false;
	long long seconds = 0;
	long long size_limit_mb = 0;
	long long video_kbps = 0;
	long long audio_kbps = 0;
	long long estimate_mb = 0;
	bool capped_by_size = false;
};

class BufferWatch {
public:
	// Read from OBS now.
	BufferStatus status() const;

	void started(long long wallMs) { startedWallMs = wallMs; }
	void stopped() { startedWallMs = 0; }
	// Wall ms of the running buffer's start; 0 while it is not running.
	long long startWallMs() const { return startedWallMs; }

private:
	long long startedWallMs = 0;
};
