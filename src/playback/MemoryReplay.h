#pragma once

#include "playback/PacketRing.h"
#include "playback/ReplayMux.h"
#include "util/ObsCompat.h"

#include <obs.hpp>

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

// What became of a replay file written up to the press.
struct ReplayTail {
	bool ok = false;
	std::string error;
	bool ready = false;        // the part held at the press was written and handed on
	bool reachedPress = false; // a video packet captured at or after the press was written
	long long lengthMs = 0;    // media time of the whole file
	long long lastSysUsec = 0; // capture clock of the newest video packet written
};

// Writes the snapshot into a new Matroska stream on fd, calls ready, then appends the packets the
// ring gets after it until the first video packet captured at or after pressSysUsec (as OBS's own
// save does), the ring is cleared, or waitUsec passed. Closes fd.
ReplayTail writeReplayUpToPress(int fd, const MuxHeader &header, PacketSnapshot snapshot, const PacketRing &ring,
				int64_t pressSysUsec, int64_t waitUsec, const std::function<void()> &ready);

// Keeps the replay buffer's last seconds as references to its encoded packets and turns them into
// a short Matroska file on request, so that a replay need not wait for OBS's save. OBS 31+ taps
// the replay buffer's own packets; older hosts attach an output of ours to its encoders.
class MemoryReplay : public QObject {
	Q_OBJECT

public:
	explicit MemoryReplay(QObject *parent = nullptr);
	~MemoryReplay() override;

	// The output type older hosts need; once, at module load.
	static void registerOutputType();
	// Folder of the replay files: memory-backed where the system offers one, and only this account's;
	// empty, with the reason, when no such folder can be had.
	static QString folder(std::string &why);
	// Removes the files that earlier runs left behind there (their process is gone).
	static void cleanFolder();

	// At the replay buffer's start, or later (the setting switched on while it runs): then the buffer
	// holds more than the memory until the memory has filled up.
	void start(int replaySeconds, bool withBuffer);
	// Before or with the buffer's stop; never after, or our output would keep its encoders alive.
	void stop();
	bool capturing() const { return running.load(); }
	// A longer replay fills up as the buffer runs on; a shorter one frees what it no longer needs.
	void keep(int replaySeconds);

	// Starts making the file of the `seconds` up to the press: the request's number, or 0, with the
	// reason, when the memory cannot serve it and the saved clip must be waited for.
	long long request(int seconds, long long pressNs, std::string &why);
	bool isReplayFile(const QString &path) const;
	void removeFile(const QString &path);
	// Waits for the file being made, if any.
	void waitForWorker();

	const PacketRing &ring() const { return packets; }
	// Runs on packets pushed into ring() by the caller instead of the buffer's encoders (tests).
	void startWithout(const MuxHeader &header);
	PacketRing &ring() { return packets; }

signals:
	// The file can be played: it holds the seconds before the press, and grows on up to the press.
	void fileReady(const QString &path, long long request);
	// Nothing more is added: lengthMs of media in all.
	void fileComplete(const QString &path, long long request, long long lengthMs);
	// No file to play; the saved clip must serve.
	void fileFailed(const QString &why, long long request);

private:
	static void onPacket(void *param, encoder_packet *packet);
	static void onOwnOutputStopped(void *param, calldata_t *data);
	bool readHeader(MuxHeader &out, std::string &why) const;

	PacketRing packets;
	CompatPacketTap tap;
	OBSWeakOutputAutoRelease tapped; // the replay buffer, while tapped (OBS 31+)
	OBSOutputAutoRelease ownOutput;  // our output on its encoders (older hosts)
	OBSSignal ownStopped;
	OBSWeakEncoderAutoRelease videoEncoder;
	OBSWeakEncoderAutoRelease audioEncoder;
	std::atomic<bool> running{false};
	QThreadPool worker;
	long long fileSeq = 0;
	// Joined late or made longer: a press falls back to the saved clip until the replay's seconds
	// are held, since the buffer has them already.
	std::atomic<bool> filling{false};
	int64_t keepUsec = 0;
	std::optional<MuxHeader> givenHeader;
	QString madeIn; // the folder of the files made so far
};
