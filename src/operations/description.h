// The documents that describe the driver to the host: description, settings form, actions.
#pragma once

#include <string>

namespace vesklink {

std::u16string BuildDescription();
std::u16string BuildSettingsForm();
std::u16string BuildActions();

}  // namespace vesklink
