// One QApplication and one libobs core for the whole test binary.
#include "FrontendDouble.h"
#include "module/ModuleCore.h"

#include <gtest/gtest.h>
#include <obs.h>

#include <QApplication>
#include <QProcess>

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

	if (!obs_startup("en-US", nullptr, nullptr)) {
		fprintf(stderr, "libobs did not start\n");
		return 1;
	}
	setModuleDataDirForTesting(LUMARK_SOURCE_DIR "/data");
	setModuleLocale("en-US");

	int rc = RUN_ALL_TESTS();

	FrontendDouble::reset();
	freeModuleLocale();
	obs_shutdown();
	if (display) {
		display->terminate();
		display->waitForFinished(3000);
	}
	return rc;
}
