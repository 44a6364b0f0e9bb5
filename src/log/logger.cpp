#include "log/logger.h"

#include <cstdio>

#include "util/text.h"

namespace vesklink {

namespace {

std::string Timestamp() { return FormatLocalNow("%Y-%m-%d %H-%M-%S"); }

}  // namespace

std::string_view LogLevelText(int level) {
    constexpr std::string_view kNames[] = {"Info", "Warning", "Error", "Debug"};
    return level >= Info && level <= Debug ? kNames[level] : "";
}

Logger::Logger() {
    const std::string documents = DocumentsFolder();
    if (documents.empty()) return;
    const std::string folder = documents + kPathSeparator + "VESKLINK";
    CreatePrivateFolder(folder);
    LogFilePath = folder + kPathSeparator + "vesklog-" + FormatLocalNow("%Y-%m-%d") + ".log";
}

std::string Logger::PathBeside(std::string_view name) const {
    const size_t separator = LogFilePath.rfind(kPathSeparator);
    if (separator == std::string::npos) return {};
    return LogFilePath.substr(0, separator + 1) + std::string(name);
}

bool Logger::WriteLines(const std::string& text) {
    if (LogFilePath.empty()) return false;
    // Text mode: on Windows every line ends with CR LF on disk, on Linux with LF.
    std::FILE* file = OpenPrivateFile(LogFilePath, "a");
    if (!file) return false;
    {
        std::lock_guard<std::mutex> lock(LogLock);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    }
    std::fclose(file);
    return true;
}

bool Logger::Log(std::u16string_view message, int level) {
    std::string line = "[" + Timestamp() + "] [" + std::string(LogLevelText(level)) + "] ";
    line += Utf16ToUtf8(message);
    line += '\n';
    return WriteLines(line);
}

bool Logger::LogReceiptBlock(std::u16string_view text) {
    std::string block = "---------------check begin--------------\n";
    block += "[" + Timestamp() + "]\n";
    block += "----------------------------------------\n";
    block += Utf16ToUtf8(text);
    block += "\n---------------chek end-----------------\n";  // "chek": spelled so on purpose, log readers match it
    return WriteLines(block);
}

}  // namespace vesklink
