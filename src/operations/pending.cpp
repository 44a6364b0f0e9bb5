// Host methods whose operations have not landed yet answer false.
#include "component/napi.h"

namespace vesklink {

bool nAPI::RegisterReceipt(tVariant*, bool) { return false; }

}  // namespace vesklink
