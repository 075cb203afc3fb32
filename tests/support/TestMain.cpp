// One QApplication and one libobs core for the whole test binary.
#include "FrontendDouble.h"
#include "util/ModuleCore.h"

#include <gtest/gtest.h>
#include <obs.hpp>

#include <vector>

#include <QApplication>
#include <QProcess>
#include <QThread>

#include <cstdlib>
#include <memory>

namespace {
// libobs's hotkey layer on Linux needs an X display even when nothing is drawn. Without one,
// start a private Xvfb for the length of the run.
std::unique_ptr<QProcess> startPrivateDisplay()
{
#if defined(__linux__)
	if (!qgetenv("DISPLAY").isEmpty())
		return nullptr;
	auto xvfb = std::make_unique<QProcess>();
	xvfb->start(QStringLiteral("Xvfb"),
		    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
		     QStringLiteral("640x480x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
	if (!xvfb->waitForStarted(5000))
		return nullptr;
	QByteArray number;
	while (!number.contains('\n') && xvfb->waitForReadyRead(10000))
		number += xvfb->readAllStandardOutput();
	number = number.trimmed();
	if (number.isEmpty())
		return nullptr;
	qputenv("DISPLAY", ":" + number);
	return xvfb;
#else
	return nullptr;
#endif
}
} // namespace

int main(int argc, char **argv)
{
	qputenv("QT_QPA_PLATFORM",
		qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
	std::unique_ptr<QProcess> display = startPrivateDisplay();
	QApplication app(argc, argv);
	::testing::InitGoogleTest(&argc, argv);

	// Many test processes share one X server; a connection can be refused while it is busy.
	bool started = false;
	for (int attempt = 0; attempt < 20 && !started; ++attempt) {
		started = obs_startup("en-US", nullptr, nullptr);
		if (!started)
			QThread::msleep(100);
	}
	if (!started) {
		fprintf(stderr, "libobs did not start\n");
		return 1;
	}
	setModuleDataDirForTesting(LUMARK_SOURCE_DIR "/data");
	setModuleLocale("en-US");

	int rc = RUN_ALL_TESTS();

	FrontendDouble::reset();
	freeModuleLocale();
	// Sources released by the tests are destroyed on libobs's own task thread, and the video
	// thread can still hold a scene for one more tick and queue its destruction after a first
	// wait. Let both settle before the core goes away under them.
	const auto sourcesLeft = [] {
		size_t n = 0;
		obs_enum_all_sources(
		    [](void *param, obs_source_t *) {
			    ++*static_cast<size_t *>(param);
			    return true;
		    },
		    &n);
		return n;
	};
	obs_wait_for_destroy_queue();
	for (int round = 0; round < 40 && sourcesLeft() > 0; ++round) {
		QThread::msleep(50);
		obs_wait_for_destroy_queue();
	}
	// libobs destroys what is left at shutdown in list order, and a scene destroyed after its items'
	// sources releases freed memory. Empty the leftover scenes first so a test that leaks a scene
	// shows up in the log instead of crashing the whole run.
	obs_enum_all_sources(
	    [](void *, obs_source_t *source) {
		    fprintf(stderr, "test run left a source behind: %s (%s)\n", obs_source_get_name(source),
			    obs_source_get_id(source));
		    // Groups are emptied by the scenes that hold them.
		    obs_scene_t *scene = obs_scene_from_source(source);
		    if (scene) {
			    std::vector<OBSSceneItem> items;
			    obs_scene_enum_items(
				scene,
				[](obs_scene_t *, obs_sceneitem_t *item, void *param) {
					static_cast<std::vector<OBSSceneItem> *>(param)->emplace_back(item);
					return true;
				},
				&items);
			    for (OBSSceneItem &item : items)
				    obs_sceneitem_remove(item);
		    }
		    return true;
	    },
	    nullptr);
	obs_wait_for_destroy_queue();
	obs_shutdown();
	if (display) {
		display->terminate();
		display->waitForFinished(3000);
	}
	return rc;
}
