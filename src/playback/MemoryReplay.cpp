#include "playback/MemoryReplay.h"

#include "util/ModuleCore.h"

#include <obs-frontend-api.h>
#include <media-io/audio-io.h>
#include <media-io/video-io.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <memory>

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

bool processGone(long long pid)
{
	if (pid == QCoreApplication::applicationPid())
		return false;
#ifdef __linux__
	return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
#else
	return true;
#endif
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

QString MemoryReplay::folder()
{
	// Asked at every replay's start and end: looked up once per process.
	static const QString path = [] {
		QString base = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
		if (base.isEmpty() || !QFileInfo(base).isDir())
			base = QDir::tempPath();
		return base + QStringLiteral("/lumark-button");
	}();
	return path;
}

void MemoryReplay::cleanFolder()
{
	QDir dir(folder());
	const QStringList names = dir.entryList({QStringLiteral("replay-*.mkv")}, QDir::Files);
	for (const QString &name : names) {
		// replay-<pid>-<n>.mkv
		const QStringList parts = name.split(QLatin1Char('-'));
		bool ok = false;
		const long long pid = parts.size() == 3 ? parts[1].toLongLong(&ok) : 0;
		if (!ok || processGone(pid))
			dir.remove(name);
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

bool MemoryReplay::readHeader(MuxHeader &out, std::string &why) const
{
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

bool MemoryReplay::request(long long entryId, int seconds, long long pressNs, std::string &why)
{
	if (!running) {
		why = tapped || ownOutput ? "its output was stopped" : "the replay buffer is not running";
		return false;
	}
	MuxHeader header;
	if (!readHeader(header, why))
		return false;
	const int64_t held = packets.heldUsec();
	if (held < kMinHeldUsec) {
		why = "the buffer holds less than one second";
		return false;
	}
	if (filling && held < keepUsec) {
		why = "the memory does not hold the replay's seconds yet";
		return false;
	}
	filling = false;
	auto snap = std::make_shared<PacketSnapshot>(packets.snapshot(seconds * 1000000LL));
	if (snap->spanUsec() < kMinHeldUsec) {
		why = "the buffer holds less than one second";
		return false;
	}
	QDir().mkpath(folder());
	const QString path = QStringLiteral("%1/%2%3-%4.mkv")
				 .arg(folder(), QLatin1String(kFilePrefix))
				 .arg(QCoreApplication::applicationPid())
				 .arg(++fileSeq);
	const long long behindMs = pressNs > 0 ? (pressNs / 1000 - snap->newestSysUsec) / 1000 : 0;
	const long long spanMs = snap->spanUsec() / 1000;
	worker.start([this, snap, header, path, entryId, behindMs, spanMs]() mutable {
		QElapsedTimer clock;
		clock.start();
		std::string error;
		const bool ok = muxMatroska(path.toStdString(), header, snap->packets, error);
		const long long muxMs = clock.elapsed();
		snap.reset();
		QMetaObject::invokeMethod(
		    this,
		    [this, ok, error, path, entryId, behindMs, spanMs, muxMs] {
			    if (!ok) {
				    emit fileFailed(QString::fromStdString(error), entryId);
				    return;
			    }
			    pluginLog(LOG_INFO,
				      "replay from memory: %lld ms of video, newest frame %lld ms before the press, "
				      "muxed in %lld ms into %s",
				      spanMs, behindMs, muxMs, path.toUtf8().constData());
			    emit fileReady(path, entryId);
		    },
		    Qt::QueuedConnection);
	});
	return true;
}

bool MemoryReplay::isReplayFile(const QString &path) const
{
	return !path.isEmpty() && path.startsWith(folder() + QStringLiteral("/") + QLatin1String(kFilePrefix));
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
