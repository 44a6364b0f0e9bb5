// vesklink-cli demo needs the simulator, which runs on a Linux pseudo-terminal: on Windows the
// command only says so. A Windows till is tried with `call` and `run` against a register, or
// against vesklink-sim on a Linux machine through a serial link.
#include "commands.h"

namespace vkcli {

int DemoCommand(const Context& context) {
    Complain(context, "demo: runs on Linux only (vesklink-sim serves a Linux pseudo-terminal); "
                      "use call or run with --port N for COMN");
    return ExitUsage;
}

}  // namespace vkcli
