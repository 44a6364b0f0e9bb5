#include "support/sim_register.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vktest {

namespace {

std::string ControlFolder() {
    const char* folder = std::getenv("VESKLINK_SIM_CONTROL");
    return folder ? folder : "";
}

#if defined(_WIN32)
const char kSep = '\\';
#else
const char kSep = '/';
#endif

std::string ControlFile(const char* name) { return ControlFolder() + kSep + name; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Truncate(const std::string& path) { std::ofstream(path, std::ios::binary | std::ios::trunc); }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool SimRegister::Available() { return !ControlFolder().empty() && std::getenv("VESKLINK_SIM_PORT"); }

int SimRegister::Port() {
    const char* port = std::getenv("VESKLINK_SIM_PORT");
    return port ? std::atoi(port) : 0;
}

void SimRegister::Reset(bool unregistered) {
    Truncate(ControlFile("commands"));
    Execute(unregistered ? "reset unregistered" : "reset");
    ClearJournal();
    ClearTape();
}

void SimRegister::Execute(const std::string& statements) {
    // Appended, so several calls before the next request all apply.
    std::ofstream(ControlFile("commands"), std::ios::binary | std::ios::app) << statements << "\n";
}

std::vector<Request> SimRegister::Journal() {
    std::vector<Request> requests;
    std::istringstream lines(ReadAll(ControlFile("journal")));
    std::string command, frame;
    while (lines >> command >> frame) {
        Request request;
        request.command = static_cast<uint8_t>(std::strtoul(command.c_str(), nullptr, 16));
        for (size_t i = 0; i + 1 < frame.size(); i += 2)
            request.frame.push_back(static_cast<uint8_t>(HexDigit(frame[i]) * 16 + HexDigit(frame[i + 1])));
        // start, length (2), command, access code (4), payload, checksum
        if (request.frame.size() > 9)
            request.payload.assign(request.frame.begin() + 8, request.frame.end() - 1);
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<uint8_t> SimRegister::Commands() {
    std::vector<uint8_t> codes;
    for (const Request& r : Journal()) codes.push_back(r.command);
    return codes;
}

void SimRegister::ClearJournal() { Truncate(ControlFile("journal")); }
std::string SimRegister::Tape() { return ReadAll(ControlFile("tape")); }
void SimRegister::ClearTape() { Truncate(ControlFile("tape")); }

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

}  // namespace vktest
