#include "test_engine_fixture.h"

namespace {

using BufferStatusTest = EngineTest;

TEST_F(BufferStatusTest, EstimateFromSimpleOutputAndTheMemoryCap)
{
	config_t *profile = FrontendDouble::profileConfig();
	config_set_string(profile, "SimpleOutput", "RecQuality", "Stream");
	config_set_int(profile, "SimpleOutput", "VBitrate", 6000);
	config_set_int(profile, "SimpleOutput", "ABitrate", 160);
	FrontendDouble::state().replayBufferActive = true;
	EXPECT_EQ(engine->bufferStatus().seconds, 0) << "nothing before loading finished";
	EXPECT_FALSE(engine->bufferStatus().active);

	ready();
	BufferStatus s = engine->bufferStatus();
	EXPECT_TRUE(s.enabled);
	EXPECT_TRUE(s.active);
	EXPECT_EQ(s.seconds, 20);
	EXPECT_EQ(s.video_kbps, 6000);
	EXPECT_EQ(s.audio_kbps, 160);
	EXPECT_EQ(s.estimate_mb, 15);
	EXPECT_FALSE(s.capped_by_size);

	config_set_int(profile, "SimpleOutput", "RecRBTime", 300);
	config_set_int(profile, "SimpleOutput", "VBitrate", 12000);
	config_set_int(profile, "SimpleOutput", "ABitrate", 0);
	config_set_int(profile, "SimpleOutput", "RecRBSize", 512);
	EXPECT_EQ(engine->bufferStatus().estimate_mb, 450);
	EXPECT_FALSE(engine->bufferStatus().capped_by_size);
	config_set_int(profile, "SimpleOutput", "RecRBSize", 256);
	s = engine->bufferStatus();
	EXPECT_EQ(s.estimate_mb, 256);
	EXPECT_TRUE(s.capped_by_size);

	// Recording with its own encoders: no bitrate, no estimate.
	config_set_string(profile, "SimpleOutput", "RecQuality", "Small");
	EXPECT_EQ(engine->bufferStatus().estimate_mb, 0);
	// Advanced mode reads its own section.
	config_set_string(profile, "Output", "Mode", "Advanced");
	config_set_bool(profile, "AdvOut", "RecRB", false);
	config_set_int(profile, "AdvOut", "RecRBTime", 45);
	s = engine->bufferStatus();
	EXPECT_FALSE(s.enabled);
	EXPECT_EQ(s.seconds, 45);
	// As OBS reads the mode: "Advanced" in any case, and any other value is the simple output.
	config_set_string(profile, "Output", "Mode", "advanced");
	EXPECT_EQ(engine->bufferStatus().seconds, 45);
	config_set_string(profile, "Output", "Mode", "Custom");
	EXPECT_EQ(engine->bufferStatus().seconds, 300);
}

TEST_F(BufferStatusTest, BufferStartsWithANewStreamOnly)
{
	ready();
	auto &fe = FrontendDouble::state();
	fe.streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(fe.replayBufferStartRequests, 1);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED); // the same stream session goes on
	EXPECT_EQ(fe.replayBufferStartRequests, 1);

	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	fe.replayBufferActive = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(fe.replayBufferStartRequests, 1) << "already running";

	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	fe.replayBufferActive = false;
	config_set_bool(FrontendDouble::profileConfig(), "SimpleOutput", "RecRB", false);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(fe.replayBufferStartRequests, 1) << "switched off in the profile, no output";

	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	config_set_bool(FrontendDouble::profileConfig(), "SimpleOutput", "RecRB", true);
	settings().auto_start_buffer = false;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	EXPECT_EQ(fe.replayBufferStartRequests, 1);
}

TEST_F(BufferStatusTest, BufferStartTimes)
{
	FrontendDouble::state().replayBufferActive = true;
	ready();
	EXPECT_EQ(bufferStartedAtWallMs(), wall) << "running at OBS start: counted from loading";
	advance(1000);
	const int before = statusSignals;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STARTED);
	EXPECT_EQ(bufferStartedAtWallMs(), wall);
	EXPECT_EQ(statusSignals, before + 1);
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_REPLAY_BUFFER_STOPPED);
	EXPECT_EQ(bufferStartedAtWallMs(), 0);
}

using NotifyTest = EngineTest;

TEST_F(NotifyTest, ReplayLatencyIsMeasuredFromThePress)
{
	ready();
	FrontendDouble::state().replayBufferActive = true;
	const long long id = engine->press(PressMode::Replay, QString());
	advance(500);
	obsSaved(QStringLiteral("/clips/r.mkv"));
	advance(734);
	emit engine->players().replay().started(QStringLiteral("/clips/r.mkv"), id);
	EXPECT_EQ(engine->figures().replayLatencyMs, 1234);
	EXPECT_EQ(engine->statusText(), msg("Msg.ReplayLatency", QStringLiteral("1.2")));
	const NotifyRecord *e = lastEvent("ReplayStarted");
	ASSERT_NE(e, nullptr);
	EXPECT_EQ(e->data["file"].toString(), QStringLiteral("r.mkv"));
	EXPECT_EQ(e->data["entry_id"].toInt(), id);
	EXPECT_EQ(e->data["latency_ms"].toInt(), 1234);
	EXPECT_EQ(e->data["seconds"].toInt(), 20);
	EXPECT_EQ(e->data["speed"].toInt(), 100);
	EXPECT_EQ(e->data["repeat"].toInt(), 1);
}

TEST_F(NotifyTest, EventPayloads)
{
	ready();
	FrontendDouble::state().streaming = true;
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STARTED);
	advance(1500);
	engine->addMark(EntryKind::Song, QStringLiteral("曲名"));
	const NotifyRecord *m = lastEvent("Marked");
	ASSERT_NE(m, nullptr);
	EXPECT_EQ(m->data.keys().size(), 7);
	EXPECT_EQ(m->data["kind"].toInt(), 5);
	EXPECT_EQ(m->data["t_ms"].toInt(), 1500);
	EXPECT_EQ(m->data["label"].toString(), QStringLiteral("曲名"));
	EXPECT_EQ(m->data["number"].toInt(), 0);
	EXPECT_EQ(m->data["session_id"].toString(), engine->currentSessionId());

	emit engine->players().recap().clipStarted(QStringLiteral("/x/y/clip.mkv"), QStringLiteral("memo"), 2, 5);
	const NotifyRecord *r = lastEvent("RecapClip");
	ASSERT_NE(r, nullptr);
	EXPECT_EQ(r->data["file"].toString(), QStringLiteral("clip.mkv"));
	EXPECT_EQ(r->data["memo"].toString(), QStringLiteral("memo"));
	EXPECT_EQ(r->data["index"].toInt(), 2);
	EXPECT_EQ(r->data["count"].toInt(), 5);

	advance(2000);
	const QString id = engine->currentSessionId();
	engine->followFrontendEvent(OBS_FRONTEND_EVENT_STREAMING_STOPPED);
	const NotifyRecord *end = lastEvent("SessionEnded");
	ASSERT_NE(end, nullptr);
	EXPECT_EQ(end->data["session_id"].toString(), id);
	EXPECT_EQ(end->data["length_ms"].toInt(), 3500);
	EXPECT_EQ(engine->statusText(), msg("Msg.Exported", QStringLiteral("lists"))) << "the lists were written";
}

} // namespace
