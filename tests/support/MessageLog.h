#pragma once
// Messages as the --verbose logs of velk-viewer and velk-play print them:
// "msg ID RECEIVER WPARAM LPARAM", or "msg ID RECEIVER WPARAM text TEXT" with a text of its own.
// Tests build the lines they look for from the Msg* names.

#include "WindowMessages.h"

#include <cstdint>
#include <string>

namespace velk::test {

// "msg ID ": the start of every logged message of this id, to any receiver.
inline std::string LoggedMessage(std::uint32_t id) { return "msg " + std::to_string(id) + " "; }
// "msg ID RECEIVER ": the start of every logged message of this id to this receiver.
inline std::string LoggedMessage(std::uint32_t id, const std::string& receiver) {
    return LoggedMessage(id) + receiver + " ";
}
// The whole line of a message without a text.
inline std::string LoggedMessage(std::uint32_t id, const std::string& receiver, long long wParam,
                                 long long lParam) {
    return LoggedMessage(id, receiver) + std::to_string(wParam) + " " + std::to_string(lParam);
}

} // namespace velk::test
