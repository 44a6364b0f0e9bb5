// Host methods whose operations have not landed yet answer false.
#include "component/napi.h"

namespace vesklink {

bool nAPI::GetDataKKT(tVariant*) { return false; }
bool nAPI::OperationFN(tVariant*) { return false; }

}  // namespace vesklink
