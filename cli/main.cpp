// vesklink-cli: calls the add-in's methods the way the platform does, from a shell.
#include <exception>
#include <iostream>

#include "args.h"
#include "commands.h"
#include "platform.h"

int main(int argc, char** argv) {
    using namespace vkcli;
    try {
        const std::vector<std::string> arguments = ProgramArguments(argc, argv);
        std::vector<const char*> words;
        for (const std::string& argument : arguments) words.push_back(argument.c_str());
        std::string error;
        const auto options = ParseOptions(static_cast<int>(words.size()), words.data(), error);
        if (options && (options->help || options->command == "help")) {
            PrintUsage(std::cout);
            return ExitOk;
        }
        const Command* command = options ? FindCommand(options->command) : nullptr;
        if (!command) {
            if (options) error = "unknown command '" + options->command + "'";
            std::cerr << "vesklink-cli: " << error << "\n\n";
            PrintUsage(std::cerr);
            return ExitUsage;
        }
        return command->run({*options, std::cout, std::cerr});
    } catch (const std::exception& e) {
        std::cerr << "vesklink-cli: " << e.what() << '\n';
        return ExitCallFailed;
    }
}
