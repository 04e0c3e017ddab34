#include "WindowMessages.h"

#include <atomic>

namespace velk {

namespace {
std::atomic<MessagePoster*> g_poster{nullptr};
}

void SetMessagePoster(MessagePoster* poster) { g_poster.store(poster, std::memory_order_release); }

MessagePoster* CurrentMessagePoster() { return g_poster.load(std::memory_order_acquire); }

void PostWindowMessage(WindowHandle target, WindowMessage message) {
    MessagePoster* poster = CurrentMessagePoster();
    if (poster && target) poster->post(target, std::move(message));
}

void PostWindowMessage(WindowHandle target, std::uint32_t id, std::uintptr_t wParam,
                       std::intptr_t lParam) {
    WindowMessage m;
    m.id = id;
    m.wParam = wParam;
    m.lParam = lParam;
    PostWindowMessage(target, std::move(m));
}

} // namespace velk
