#pragma once

#include <string>

namespace velk::test {

// Gives this test process an X server of its own and points DISPLAY at it.
//
// Test processes that shared one server failed now and then: when one client disconnects just as
// another connects, the X server here can reset the new connection during its handshake, and Qt
// ends the program when its first connection fails. A private server per process sees only the
// process's own connections. Started once per process, stopped when the process exits (and killed
// with it if it dies). Returns the display name, or an empty string when no server could be
// started; DISPLAY is then left as it was.
std::string UsePrivateDisplay();

} // namespace velk::test
