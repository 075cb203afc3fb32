#include "playback/MemoryReplay.h"

#include "util/ModuleCore.h"
#include "util/PrivateFiles.h"

#include <obs-frontend-api.h>
#include <media-io/audio-io.h>
#include <media-io/video-io.h>
#include <util/platform.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <memory>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {
constexpr const char *kOutputId = "kelvaro_lumark_replay_memory";
// What obs-websocket's GetOutputList shows, so that nobody takes it for a stray output.
constexpr const char *kOutputName = "Lumark instant replay (memory)";
// Less than this makes no replay worth showing; the saved clip is waited for instead.
constexpr int64_t kMinHeldUsec = 1000000;
constexpr const char *kFilePrefix = "replay-";

// Our output is made on the UI thread; its create callback takes the ring from here.
PacketRing *g_ringForNextOutput = nullptr;

struct OwnOutput {
	obs_output_t *output = nullptr;
	PacketRing *ring = nullptr;
};

const char *ownName(void *)
{
	return kOutputName;
}

void *ownCreate(obs_data_t *, obs_output_t *output)
{
	return new OwnOutput{output, g_ringForNextOutput};
}

void ownDestroy(void *data)
{
	delete static_cast<OwnOutput *>(data);
}

bool ownStart(void *data)
{
	auto *own = static_cast<OwnOutput *>(data);
	if (!own->ring || !obs_output_can_begin_data_capture(own->output, 0) ||
	    !obs_output_initialize_encoders(own->output, 0))
		return false;
	return obs_output_begin_data_capture(own->output, 0);
}

void ownStop(void *data, uint64_t)
{
	obs_output_end_data_capture(static_cast<OwnOutput *>(data)->output);
}

void ownPacket(void *data, encoder_packet *packet)
{
	auto *own = static_cast<OwnOutput *>(data);
	if (packet && own->ring)
		own->ring->push(packet);
}

// Appended packets are looked for this often while the press's picture is on its way.
constexpr int kTailPollMs = 10;
// The press's picture leaves the encoder within about a second; past this it is not waited for.
constexpr int64_t kTailWaitUsec = 2000000;

// replay-<pid>-<n>.mkv, the pid of the process that made it; 0 for any other name.
long long ownerPid(const QString &name)
{
	static const QRegularExpression pattern(QStringLiteral("^replay-(\\d{1,10})-\\d{1,18}\\.mkv$"));
	const QRegularExpressionMatch match = pattern.match(name);
	return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}
} // namespace

MemoryReplay::MemoryReplay(QObject *parent) : QObject(parent)
{
	worker.setMaxThreadCount(1);
}

MemoryReplay::~MemoryReplay()
{
	stop();
	worker.waitForDone();
}

void MemoryReplay::registerOutputType()
{
	if (compatHasPacketTap())
		return;
	obs_output_info info = {};
	info.id = kOutputId;
	info.flags = OBS_OUTPUT_AV | OBS_OUTPUT_ENCODED;
	info.get_name = ownName;
	info.create = ownCreate;
	info.destroy = ownDestroy;
	info.start = ownStart;
	info.stop = ownStop;
	info.encoded_packet = ownPacket;
	obs_register_output(&info);
}

QString MemoryReplay::folder(std::string &why)
{
	// A runtime folder is the user's own; a shared temporary folder gets a name per account.
	const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
	if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
		return PrivateFiles::ensureFolder(runtime, QStringLiteral("lumark-button"), why);
#ifdef _WIN32
	const QString name = QStringLiteral("lumark-button");
#else
	const QString name = QStringLiteral("lumark-button-%1").arg(geteuid());
#endif
	return PrivateFiles::ensureFolder(QDir::tempPath(), name, why);
}

void MemoryReplay::cleanFolder()
{
	std::string why;
	const QString path = folder(why);
	if (path.isEmpty()) {
		pluginLog(LOG_WARNING, "replay from memory: no private folder for its files (%s)", why.c_str());
		return;
	}
	const QDir dir(path);
	for (const QString &name : dir.entryList({QStringLiteral("replay-*.mkv")}, QDir::Files | QDir::System)) {
		const long long pid = ownerPid(name);
		if (pid > 0 && PrivateFiles::processGone(pid) && PrivateFiles::ownRegularFile(dir.filePath(name)))
			QFile::remove(dir.filePath(name));
	}
}

void MemoryReplay::start(int replaySeconds, bool withBuffer)
{
	stop();
	OBSOutputAutoRelease buffer = obs_frontend_get_replay_buffer_output();
	if (!buffer || !obs_output_active(buffer))
		return;
	obs_encoder_t *video = obs_output_get_video_encoder(buffer);
	obs_encoder_t *audio = obs_output_get_audio_encoder(buffer, 0);
	if (!video) {
		pluginLog(LOG_WARNING, "replay from memory: the replay buffer has no video encoder");
		return;
	}
	videoEncoder = obs_encoder_get_weak_encoder(video);
	audioEncoder = audio ? obs_encoder_get_weak_encoder(audio) : nullptr;
	packets.clear();
	keep(replaySeconds);
	filling = !withBuffer;

	if (compatHasPacketTap()) {
		tap.fn = &MemoryReplay::onPacket;
		tap.param = this;
		if (compatAddPacketTap(buffer, &tap)) {
			tapped = obs_output_get_weak_output(buffer);
			running = true;
			pluginLog(LOG_INFO, "replay from memory: reading the replay buffer's packets");
		}
		return;
	}

	g_ringForNextOutput = &packets;
	ownOutput = obs_output_create(kOutputId, kOutputName, nullptr, nullptr);
	g_ringForNextOutput = nullptr;
	if (!ownOutput) {
		pluginLog(LOG_WARNING, "replay from memory: could not create its output");
		return;
	}
	obs_output_set_video_encoder(ownOutput, video);
	if (audio)
		obs_output_set_audio_encoder(ownOutput, audio, 0);
	ownStopped.Connect(obs_output_get_signal_handler(ownOutput), "stop", &MemoryReplay::onOwnOutputStopped, this);
	if (!obs_output_start(ownOutput)) {
		const char *error = obs_output_get_last_error(ownOutput);
		pluginLog(LOG_WARNING, "replay from memory: its output did not start (%s)",
			  error ? error : "no reason");
		ownStopped.Disconnect();
		ownOutput = nullptr;
		return;
	}
	running = true;
	pluginLog(LOG_INFO, "replay from memory: joined the replay buffer's encoders");
}

void MemoryReplay::keep(int replaySeconds)
{
	// Trimming whole GOPs keeps the keyframe at or before the replay's start, all a press needs.
	const int64_t usec = replaySeconds * 1000000LL;
	if (usec > keepUsec && running)
		filling = true;
	keepUsec = usec;
	packets.setKeepUsec(usec);
}

void MemoryReplay::stop()
{
	const bool was = running.exchange(false);
	if (ownOutput) {
		// Our own stop is no stop from outside.
		ownStopped.Disconnect();
		obs_output_stop(ownOutput);
		ownOutput = nullptr; // the release waits until the encoders have let go of it
	}
	if (tapped) {
		OBSOutputAutoRelease buffer = obs_weak_output_get_output(tapped);
		compatRemovePacketTap(buffer, &tap);
		tapped = nullptr;
	}
	// Where the packets were our own copies, their pages go back to the system with them.
	const bool large = packets.heldBytes() > 1024 * 1024;
	packets.clear();
	videoEncoder = nullptr;
	audioEncoder = nullptr;
	givenHeader.reset();
	if (large)
		releaseFreedPages();
	if (was)
		pluginLog(LOG_INFO, "replay from memory: stopped");
}

void MemoryReplay::onPacket(void *param, encoder_packet *packet)
{
	static_cast<MemoryReplay *>(param)->packets.push(packet);
}

void MemoryReplay::onOwnOutputStopped(void *param, calldata_t *)
{
	auto *self = static_cast<MemoryReplay *>(param);
	if (self->running.exchange(false))
		pluginLog(LOG_WARNING, "replay from memory: its output was stopped from outside; replays wait for "
				       "the saved clip until the replay buffer starts again");
}

void MemoryReplay::startWithout(const MuxHeader &header)
{
	stop();
	givenHeader = header;
	packets.clear();
	running = true;
}

bool MemoryReplay::readHeader(MuxHeader &out, std::string &why) const
{
	if (givenHeader) {
		out = *givenHeader;
		return true;
	}
	OBSEncoderAutoRelease video = obs_weak_encoder_get_encoder(videoEncoder);
	if (!video) {
		why = "the replay buffer's video encoder is gone";
		return false;
	}
	uint8_t *data = nullptr;
	size_t size = 0;
	if (!obs_encoder_get_extra_data(video, &data, &size) || !data || !size) {
		why = "the video encoder gives no extradata";
		return false;
	}
	const char *codec = obs_encoder_get_codec(video);
	out.video.codec = codec ? codec : "";
	out.video.extraData.assign(data, data + size);
	out.video.width = obs_encoder_get_width(video);
	out.video.height = obs_encoder_get_height(video);
	if (video_t *output = obs_encoder_video(video)) {
		if (const video_output_info *info = video_output_get_info(output)) {
			out.video.fpsNum = info->fps_num;
			out.video.fpsDen = info->fps_den;
			out.video.colorspace = info->colorspace;
			out.video.fullRange = info->range == VIDEO_RANGE_FULL;
		}
	}

	OBSEncoderAutoRelease audio = obs_weak_encoder_get_encoder(audioEncoder);
	out.hasAudio = false;
	if (audio) {
		data = nullptr;
		size = 0;
		const char *audioCodec = obs_encoder_get_codec(audio);
		out.audio.codec = audioCodec ? audioCodec : "";
		out.audio.sampleRate = obs_encoder_get_sample_rate(audio);
		audio_t *mix = obs_encoder_audio(audio);
		out.audio.channels = mix ? static_cast<uint32_t>(audio_output_get_channels(mix)) : 2;
		if (obs_encoder_get_extra_data(audio, &data, &size) && data && size)
			out.audio.extraData.assign(data, data + size);
		// AAC cannot be read back without its header; the picture alone is still a replay.
		out.hasAudio =
		    !out.audio.extraData.empty() || QString::fromStdString(out.audio.codec).toLower() != "aac";
	}
	return true;
}

long long MemoryReplay::request(int seconds, long long pressNs, std::string &why)
{
	if (!running) {
		why = tapped || ownOutput ? "its output was stopped" : "the replay buffer is not running";
		return 0;
	}
	MuxHeader header;
	if (!readHeader(header, why))
		return 0;
	const int64_t held = packets.heldUsec();
	if (held < kMinHeldUsec) {
		why = "the buffer holds less than one second";
		return 0;
	}
	if (filling && held < keepUsec) {
		why = "the memory does not hold the replay's seconds yet";
		return 0;
	}
	const QString dir = folder(why);
	if (dir.isEmpty()) {
		why = "no private folder for its files: " + why;
		return 0;
	}
	// The replay ends at the press: its seconds count back from there, and the file starts at the
	// keyframe at or before that, so the player need not seek.
	const int64_t pressUsec = pressNs / 1000;
	const int64_t newestSys = packets.newestSys();
	const int64_t toCome = pressUsec > newestSys ? pressUsec - newestSys : 0;
	PacketSnapshot snap = packets.snapshot(std::max<int64_t>(seconds * 1000000LL - toCome, 0));
	if (snap.spanUsec() + toCome < kMinHeldUsec) {
		why = "the buffer holds less than one second";
		return 0;
	}
	filling = false;
	// Never an existing name: a file in the way is passed over.
	QString path;
	int fd = -1;
	for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
		path = QStringLiteral("%1/%2%3-%4.mkv")
			   .arg(dir, QLatin1String(kFilePrefix))
			   .arg(QCoreApplication::applicationPid())
			   .arg(++fileSeq);
		fd = PrivateFiles::createFile(path, why);
	}
	if (fd < 0)
		return 0;
	madeIn = dir;
	const long long number = fileSeq;
	const long long spanMs = snap.spanUsec() / 1000;
	const long long behindMs = (pressUsec - snap.newestSysUsec) / 1000;
	auto held_ = std::make_shared<PacketSnapshot>(std::move(snap));
	worker.start([this, held_, header, path, fd, number, pressUsec, spanMs, behindMs]() mutable {
		QElapsedTimer clock;
		clock.start();
		long long readyMs = 0;
		const ReplayTail tail =
		    writeReplayUpToPress(fd, header, std::move(*held_), packets, pressUsec, kTailWaitUsec, [&] {
			    readyMs = clock.elapsed();
			    QMetaObject::invokeMethod(
				this,
				[this, path, number, spanMs, behindMs, muxMs = readyMs] {
					pluginLog(
					    LOG_INFO,
					    "replay from memory: %lld ms of video, newest frame %lld ms before the "
					    "press, muxed in %lld ms into %s",
					    spanMs, behindMs, muxMs, path.toUtf8().constData());
					emit fileReady(path, number);
				},
				Qt::QueuedConnection);
		    });
		held_.reset();
		const long long tailMs = clock.elapsed();
		QMetaObject::invokeMethod(
		    this,
		    [this, tail, path, number, pressUsec, readyMs, tailMs] {
			    if (!tail.ready) {
				    os_unlink(path.toUtf8().constData());
				    emit fileFailed(QString::fromStdString(tail.error), number);
				    return;
			    }
			    if (!tail.ok)
				    pluginLog(LOG_WARNING, "replay from memory: its file ends early (%s)",
					      tail.error.c_str());
			    pluginLog(LOG_INFO,
				      "replay from memory: file complete, %lld ms of media, last picture %lld ms after "
				      "the press (%s), %lld ms after it was handed on",
				      tail.lengthMs, (tail.lastSysUsec - pressUsec) / 1000,
				      tail.reachedPress ? "the press's own" : "the press's never came",
				      tailMs - readyMs);
			    emit fileComplete(path, number, tail.lengthMs);
		    },
		    Qt::QueuedConnection);
	});
	return number;
}

ReplayTail writeReplayUpToPress(int fd, const MuxHeader &header, PacketSnapshot snapshot, const PacketRing &ring,
				int64_t pressSysUsec, int64_t waitUsec, const std::function<void()> &ready)
{
	ReplayTail tail;
	MatroskaWriter writer;
	if (!writer.open(fd, header, tail.error) || !writer.append(snapshot.packets, tail.error))
		return tail;
	tail.ready = true;
	tail.lastSysUsec = snapshot.newestSysUsec;
	tail.reachedPress = snapshot.newestSysUsec >= pressSysUsec;
	const uint64_t run = snapshot.run;
	uint64_t seq = snapshot.nextSeq;
	snapshot = PacketSnapshot();
	ready();

	QElapsedTimer waited;
	waited.start();
	bool more = true;
	while (more && !tail.reachedPress && waited.nsecsElapsed() / 1000 < waitUsec) {
		PacketSnapshot next;
		if (!ring.since(run, seq, next))
			break; // the buffer stopped: nothing more will come
		seq = next.nextSeq;
		// Up to the first picture captured at or after the press; what comes after is left out.
		auto end = next.packets.begin();
		for (; end != next.packets.end() && !tail.reachedPress; ++end) {
			if (end->type != OBS_ENCODER_VIDEO)
				continue;
			tail.lastSysUsec = end->sys_dts_usec;
			tail.reachedPress = end->sys_dts_usec >= pressSysUsec;
		}
		std::vector<encoder_packet> taken(next.packets.begin(), end);
		next.packets.erase(next.packets.begin(), end);
		PacketSnapshot owned;
		owned.packets = std::move(taken);
		if (!owned.empty() && !writer.append(owned.packets, tail.error))
			more = false;
		else if (owned.empty())
			QThread::msleep(kTailPollMs);
	}
	tail.lengthMs = writer.lengthMs();
	tail.ok = more && writer.finish(tail.error);
	return tail;
}

bool MemoryReplay::isReplayFile(const QString &path) const
{
	return !madeIn.isEmpty() && path.startsWith(madeIn + QStringLiteral("/") + QLatin1String(kFilePrefix)) &&
	       ownerPid(QFileInfo(path).fileName()) == QCoreApplication::applicationPid();
}

void MemoryReplay::removeFile(const QString &path)
{
	if (isReplayFile(path))
		QFile::remove(path);
}

void MemoryReplay::waitForWorker()
{
	worker.waitForDone();
}
