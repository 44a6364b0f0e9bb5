// Code page 866 (DOS Cyrillic), the character set of the register: every text the register keeps
// or prints is one byte per character in this code page. The simulator keeps its texts in it and
// converts to UTF-8 only where a person reads them (the paper tape, the state file, the command
// language). Kept apart from the driver's code page tables on purpose: the simulator is its
// independent check.
#pragma once

#include <string>
#include <string_view>

namespace vesklink::sim {

// UTF-8 to code page 866, one byte per character. Characters the code page lacks become "?";
// the guillemets become the ASCII double quote, as the driver sends them. Malformed UTF-8
// sequences become "?" as well.
std::string Cp866FromUtf8(std::string_view utf8);

// Code page 866 to UTF-8. Every byte has a character, so nothing is lost.
std::string Utf8FromCp866(std::string_view bytes);

}  // namespace vesklink::sim
