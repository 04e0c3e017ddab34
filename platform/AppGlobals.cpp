#include "AppGlobals.h"

namespace velk {

AppGlobals& Globals() {
    static AppGlobals globals;
    return globals;
}

} // namespace velk
