#pragma once
// The Qt side of the message channel: a posted WindowMessage becomes a PostedMessageEvent
// delivered to the receiving object on that object's thread (the user-interface thread for
// every panel). Receivers get a handle with HandleOf() and handle the event in event().

#include "WindowMessages.h"

#include <QEvent>
#include <QObject>

namespace velk {

class PostedMessageEvent : public QEvent {
public:
    explicit PostedMessageEvent(WindowMessage message);
    static QEvent::Type eventType();
    WindowMessage message; // owned by the event, and by the receiver while it handles it
};

class QtMessagePoster : public MessagePoster {
public:
    // The handle by which the engine and the workers address this object. The object is
    // registered on first use and forgotten when it is destroyed; messages posted to it after
    // that are dropped (their texts freed).
    static WindowHandle HandleOf(QObject* receiver);
    void post(WindowHandle target, WindowMessage message) override;
};

} // namespace velk
