// Where the mouse pointer is, for hiding it over the pictures while it rests (player thread).
// Kept apart because the window system's header brings macros the rest of the engine must not
// see.

#include "VideoState.h"

#include <SDL_syswm.h>

namespace velk {

namespace {
// The host windows belong to the panels' toolkit, which has already taken their pointer
// events, so SDL hears of no motion over them and its cached global position stays where it
// was. The window system is asked directly, through the library SDL itself loaded, so the
// engine still links SDL alone.
using QueryPointerFunction = Bool (*)(Display*, Window, Window*, Window*, int*, int*, int*, int*,
                                      unsigned int*);

QueryPointerFunction QueryPointer() {
    static const QueryPointerFunction function = [] {
        void* library = SDL_LoadObject("libX11.so.6");
        return library ? reinterpret_cast<QueryPointerFunction>(
                             SDL_LoadFunction(library, "XQueryPointer"))
                       : nullptr;
    }();
    return function;
}
} // namespace

bool PointerPosition(SDL_Window* window, int* x, int* y) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        if (QueryPointerFunction query = QueryPointer()) {
            Window root, child;
            int windowX, windowY;
            unsigned int mask;
            return query(info.info.x11.display, info.info.x11.window, &root, &child, x, y, &windowX,
                         &windowY, &mask) != 0;
        }
    }
    SDL_GetGlobalMouseState(x, y);
    return true;
}

} // namespace velk
