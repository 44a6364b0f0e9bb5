// The dated log file: one file per day of object creation under <Documents>/VESKLINK, UTF-8
// without a byte-order mark. The file is opened for each line and closed again, so it can be
// read, copied or deleted while the driver runs.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace vesklink {

enum LogLevel : int { Info = 0, Warning = 1, Error = 2, Debug = 3 };

// The text a level prints in the line: "Info", "Warning", "Error", "Debug", or empty text for any
// other value.
std::string_view LogLevelText(int level);

// The user's Documents folder, or empty text when it cannot be resolved.
std::string DocumentsFolder();
// Creates one folder; an existing folder is fine.
void CreateFolder(const std::string& path);
// Files the driver keeps beside the log, by the same narrow paths the log uses (Windows: the
// system's code page). A file written under another name takes the place of `to` in one step,
// and a file is removed, never a folder. Empty text on success, else the system's reason.
std::string PutFileInPlace(const std::string& from, const std::string& to);
std::string RemoveFile(const std::string& path);
extern const char kPathSeparator;

class Logger {
public:
    // Resolves the file path for today and creates the log folder; writes nothing.
    Logger();

    bool Log(std::u16string_view message, int level);
    // The receipt package as the host sent it, framed by marker lines.
    bool LogReceiptBlock(std::u16string_view text);

    const std::string& FilePath() const { return LogFilePath; }
    // The log folder, where the driver keeps its other files too; empty without one.
    const std::string& Folder() const { return LogFolder; }

private:
    bool WriteLines(const std::string& text);

    std::mutex LogLock;
    std::string LogFilePath;
    std::string LogFolder;
};

}  // namespace vesklink
