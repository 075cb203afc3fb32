#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "playback/Recap.h"

namespace {
class EngineRecapSessions : public RecapSessions {
public:
	QStringList sessionIds() override { return Engine::instance()->sessionIds(); }
	Session *findSession(const QString &id) override { return Engine::instance()->findSession(id); }
	QString runningSessionId() override { return Engine::instance()->currentSessionId(); }
	bool hasOwnLabel(const Entry &entry) override
	{
		return ::hasOwnLabel(entry, Engine::instance()->exportTexts());
	}
	void watch(QObject *receiver, std::function<void()> changed, std::function<void()> listChanged) override
	{
		Engine *engine = Engine::instance();
		QObject::connect(engine, &Engine::sessionChanged, receiver, changed);
		QObject::connect(engine, &Engine::sessionListChanged, receiver, listChanged);
	}
};
} // namespace

std::unique_ptr<RecapSessions> makeEngineRecapSessions()
{
	return std::make_unique<EngineRecapSessions>();
}
