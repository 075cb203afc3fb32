#pragma once

#include <obs.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// References to encoded packets that a replay file can be made from, taken on the UI thread and
// muxed elsewhere; every reference is dropped with the snapshot.
class PacketSnapshot {
public:
	PacketSnapshot() = default;
	PacketSnapshot(PacketSnapshot &&other) noexcept;
	PacketSnapshot &operator=(PacketSnapshot &&other) noexcept;
	PacketSnapshot(const PacketSnapshot &) = delete;
	PacketSnapshot &operator=(const PacketSnapshot &) = delete;
	~PacketSnapshot();

	// In arrival order: video from a keyframe on, audio from the same time on.
	std::vector<encoder_packet> packets;
	int64_t firstUsec = 0;     // dts of the first keyframe
	int64_t lastUsec = 0;      // dts of the newest video packet
	int64_t newestSysUsec = 0; // capture clock of the newest video packet (os_gettime_ns / 1000)
	// Where the packets that came after these begin (see PacketRing::since).
	uint64_t nextSeq = 0;
	uint64_t run = 0;

	bool empty() const { return packets.empty(); }
	int64_t spanUsec() const { return packets.empty() ? 0 : lastUsec - firstUsec; }

private:
	void release();
};

// The last stretch of a replay buffer's video (track 0) and first audio track, as references to
// the encoder's own packets. Filled from encoder threads, read from the UI thread; every call is
// constant work except the snapshot.
class PacketRing {
public:
	PacketRing() = default;
	PacketRing(const PacketRing &) = delete;
	PacketRing &operator=(const PacketRing &) = delete;
	~PacketRing();

	// How much video to keep behind the newest packet; older packets go a whole GOP at a time.
	void setKeepUsec(int64_t usec);
	// Forgets everything: a new buffer run starts a new ring.
	void clear();
	// Takes a reference to the packet when it belongs to a kept track.
	void push(encoder_packet *packet);

	// References from the keyframe at or before (newest - usec), or from the oldest keyframe held, with
	// the sound frames of the last 100 ms before it.
	PacketSnapshot snapshot(int64_t usec) const;
	// References to the packets that came after a snapshot (or after the last call), in arrival order.
	// False once the ring was cleared since: they belong to another run of the buffer.
	bool since(uint64_t run, uint64_t seq, PacketSnapshot &out) const;

	// Video held from the oldest keyframe to the newest packet, and the bytes referenced.
	int64_t heldUsec() const;
	size_t heldBytes() const;
	size_t size() const;
	// Capture clock of the newest video packet; 0 when none is held.
	int64_t newestSys() const;

private:
	void trimLocked();

	mutable std::mutex lock;
	std::deque<encoder_packet> packets;
	std::deque<int64_t> keyframes; // dts of the video keyframes held, oldest first
	int64_t keepUsec = 30 * 1000000LL;
	int64_t newestUsec = 0;
	int64_t newestSysUsec = 0;
	size_t bytes = 0;
	uint64_t firstSeq = 0; // arrival number of packets.front()
	uint64_t runNumber = 0;
};
