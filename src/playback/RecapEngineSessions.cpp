#include "engine/Engine.h"
#include "lists/TextFormat.h"
#include "playback/Recap.h"

namespace {
// Used when nobody handed the recap its sessions: the module's Engine.
class EngineSessionsForRecap : public RecapSessions {
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
		QObject::connect(Engine::instance(), &Engine::sessionChanged, receiver, std::move(changed));
		QObject::connect(Engine::instance(), &Engine::sessionListChanged, receiver, std::move(listChanged));
	}
};
} // namespace

std::unique_ptr<RecapSessions> makeEngineRecapSessions()
{
	return std::make_unique<EngineSessionsForRecap>();
}
