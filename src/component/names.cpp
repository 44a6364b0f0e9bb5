#include "component/names.h"

namespace vesklink {

const HostName PropertyNames[kPropertyCount] = {{u"Port", u"Порт"}, {u"Speed", u"Скорость"}};

const char16_t ExtensionName[] = u"vesklink";

}  // namespace vesklink
