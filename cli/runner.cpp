#include "runner.h"

#include <algorithm>
#include <cstdio>
#include <charconv>
#include <fstream>
#include <iomanip>

#include "platform.h"

namespace vkcli {

namespace {

// Characters in UTF-8 text (continuation bytes are not counted), for lining up columns.
size_t Width(const std::string& text) {
    size_t n = 0;
    for (const unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Pad(const std::string& text, size_t width) {
    const size_t w = Width(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsAsciiIgnoreCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Where the log file ends now (0 when there is none yet).
std::streamoff LogEnd(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

// The lines written to the log file after `from`; all of them when the file is new since then.
void PrintLogSince(std::ostream& out, const std::string& path, std::streamoff from) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    in.seekg(0, std::ios::end);
    if (in.tellg() < from) from = 0;
    in.seekg(from);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out << "log: " << line << '\n';
    }
}

std::string DoubleText(double value) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

}  // namespace

std::string FormatValue(const Value& value) {
    switch (value.kind) {
        case Value::Kind::Empty: return "empty";
        case Value::Kind::Bool: return value.boolean ? "true" : "false";
        case Value::Kind::Int: return std::to_string(value.integer) + " (int)";
        case Value::Kind::UInt: return std::to_string(value.integer) + " (uint)";
        case Value::Kind::Double: return DoubleText(value.number) + " (double)";
        case Value::Kind::Text: return "\"" + value.text + "\"";
        case Value::Kind::Other: break;
    }
    return "a value of host type " + std::to_string(value.type);
}

void PrintValue(std::ostream& out, const std::string& label, const Value& value) {
    if (value.kind == Value::Kind::Text && value.text.find('\n') != std::string::npos) {
        out << label << ":\n" << value.text;
        if (value.text.back() != '\n') out << '\n';
        return;
    }
    out << label << ": " << FormatValue(value) << '\n';
}

void PrintMethods(std::ostream& out, const std::vector<MethodInfo>& methods) {
    size_t english = 7, russian = 7;
    for (const MethodInfo& m : methods) {
        english = std::max(english, Width(m.english));
        russian = std::max(russian, Width(m.russian));
    }
    out << std::setw(2) << "#" << "  " << Pad("English", english) << "  " << Pad("Russian", russian)
        << "  Params\n";
    for (const MethodInfo& m : methods) {
        out << std::setw(2) << m.index << "  " << Pad(m.english, english) << "  " << Pad(m.russian, russian)
            << "  " << m.params << '\n';
    }
}

std::optional<ResolvedCall> Runner::Resolve(const CallLine& call, std::string& error) {
    ResolvedCall resolved;
    resolved.line = call;
    if (call.crash) return resolved;
    resolved.method = session_.FindMethod(call.method);
    if (resolved.method < 0) {
        error = "unknown method '" + call.method + "'";
        if (methods_.empty()) methods_ = session_.Methods();
        for (const MethodInfo& m : methods_) {
            if (EqualsAsciiIgnoreCase(m.english, call.method)) {
                error += " (names are case-sensitive: did you mean " + m.english + "?)";
                break;
            }
        }
        error += "; 'vesklink-cli methods' lists them";
        return std::nullopt;
    }
    resolved.paramCount = session_.ParamCount(resolved.method);
    if (static_cast<long>(call.arguments.size()) > resolved.paramCount) {
        error = call.method + " takes " + std::to_string(resolved.paramCount) + " parameter(s), " +
                std::to_string(call.arguments.size()) + " given";
        return std::nullopt;
    }
    return resolved;
}

std::vector<ResolvedCall> Runner::ResolveScript(Script& script, const std::string& name) {
    std::vector<ResolvedCall> calls;
    std::string error;
    for (const CallLine& call : script.calls) {
        if (auto resolved = Resolve(call, error))
            calls.push_back(std::move(*resolved));
        else
            script.errors.push_back({call.lineNumber, name + ":" + std::to_string(call.lineNumber) + ": " + error});
    }
    std::stable_sort(script.errors.begin(), script.errors.end(),
                     [](const ScriptError& a, const ScriptError& b) { return a.line < b.line; });
    return calls;
}

bool Runner::Run(const ResolvedCall& call, CallOutcome* copy) {
    if (calls_++ > 0) out_ << '\n';
    out_ << "> " << call.line.text << '\n';
    if (call.line.crash) {
        // What was printed stays; nothing else of this process runs.
        out_.flush();
        std::fflush(nullptr);
        EndProcessAtOnce();
    }
    const std::streamoff logMark = LogEnd(session_.LogFile());
    const CallOutcome outcome = session_.Call(call.method, call.line.arguments);
    if (copy) *copy = outcome;
    if (outcome.accepted)
        PrintValue(out_, "result", outcome.result);
    else
        out_ << "result: not accepted (CallAsFunc answered false)\n";
    for (size_t i = 0; i < outcome.params.size(); ++i)
        if (outcome.shown[i]) PrintValue(out_, "param " + std::to_string(i), outcome.params[i]);
    if (outcome.Succeeded()) return true;
    const LastError error = session_.FetchLastError();
    if (!error.available) {
        out_ << "error: GetLastError did not answer\n";
    } else {
        out_ << "error: " << (error.text.empty() ? "(no text)" : error.text);
        if (error.hasCode) out_ << " (code " << error.code << ")";
        out_ << '\n';
    }
    // What the driver wrote to its log during the call usually says why.
    PrintLogSince(out_, session_.LogFile(), logMark);
    return false;
}

size_t Runner::RunAll(const std::vector<ResolvedCall>& calls, bool keepGoing, size_t* ranUntil) {
    size_t failed = 0, ran = 0;
    for (const ResolvedCall& call : calls) {
        ++ran;
        if (!Run(call)) {
            ++failed;
            if (!keepGoing) break;
        }
    }
    if (ranUntil) *ranUntil = ran;
    out_.flush();
    return failed;
}

}  // namespace vkcli
