#include "QtMessagePoster.h"

#include <QCoreApplication>

#include <mutex>
#include <unordered_set>

namespace velk {

namespace {
// Live receivers. The lock covers lookup and postEvent, and unregistering takes it too, so no
// event is ever posted to an object that is being destroyed.
std::mutex g_registryMutex;
std::unordered_set<QObject*> g_receivers;
} // namespace

PostedMessageEvent::PostedMessageEvent(WindowMessage m)
    : QEvent(eventType()), message(std::move(m)) {}

QEvent::Type PostedMessageEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

WindowHandle QtMessagePoster::HandleOf(QObject* receiver) {
    if (!receiver) return 0;
    bool added = false;
    {
        std::lock_guard lock(g_registryMutex);
        added = g_receivers.insert(receiver).second;
    }
    if (added) {
        QObject::connect(receiver, &QObject::destroyed, [receiver] {
            std::lock_guard lock(g_registryMutex);
            g_receivers.erase(receiver);
        });
    }
    return reinterpret_cast<WindowHandle>(receiver);
}

void QtMessagePoster::post(WindowHandle target, WindowMessage message) {
    auto* receiver = reinterpret_cast<QObject*>(target);
    std::lock_guard lock(g_registryMutex);
    if (!g_receivers.count(receiver)) return;
    QCoreApplication::postEvent(receiver, new PostedMessageEvent(std::move(message)));
}

} // namespace velk
