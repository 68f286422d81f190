#include "app/GlobalVars.h"

namespace cw {

TGlobalVars& GlobalVars() {
    static TGlobalVars vars;
    return vars;
}

} // namespace cw
