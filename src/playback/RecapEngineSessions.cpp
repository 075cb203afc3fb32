#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "playback/Recap.h"

bool RecapSessions::hasOwnLabel(const Entry &entry)
{
	// The locale is fixed once the module is loaded, so the words can be read once.
	static const ExportTexts texts = exportTextsFromLocale();
	return ::hasOwnLabel(entry, texts);
}

namespace {
class EngineSessionsForRecap : public RecapSessions {
public:
	QStringList sessionIds() override { return Engine::instance()->sessionIds(); }
	Session *findSession(const QString &id) override { return Engine::instance()->findSession(id); }
	QString runningSessionId() override { return Engine::instance()->currentSessionId(); }
	QObject *signalSource() override { return Engine::instance(); }
};
} // namespace

std::unique_ptr<RecapSessions> makeEngineRecapSessions()
{
	return std::make_unique<EngineSessionsForRecap>();
}
