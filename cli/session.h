// One host session: the add-in library loaded through the C host harness and one component
// object created and initialised the way the platform does it. Every string the component hands
// over is copied out and given back to the harness memory manager at once, so nothing the
// component returned outlives the call that returned it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "vk_host.h"

namespace vkcli {

// A host variant copied into plain C++ values.
struct Value {
    enum class Kind { Empty, Bool, Int, UInt, Double, Text, Other };
    Kind kind = Kind::Empty;
    bool boolean = false;
    int64_t integer = 0;  // Int and UInt
    double number = 0.0;
    std::string text;  // UTF-8
    uint16_t type = 0;  // the host type code
};

// What one call gave back.
struct CallOutcome {
    bool accepted = false;  // CallAsFunc answered true
    Value result;
    // Every parameter after the call, and whether the caller should see it: out-parameters,
    // trailing parameters the caller left out once the component filled them, and any parameter
    // the component changed.
    std::vector<Value> params;
    std::vector<bool> shown;
    // The method reported success: the call was accepted and the result is not the boolean false.
    bool Succeeded() const { return accepted && !(result.kind == Value::Kind::Bool && !result.boolean); }
};

struct MethodInfo {
    long index = 0;
    std::string english;
    std::string russian;
    long params = 0;
};

class Session {
public:
    // Loads the library and creates the component; on failure error says why.
    static std::unique_ptr<Session> Open(const std::string& libraryPath, std::string& error);
    ~Session() { Finish(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Method index by English or Russian name (FindMethod), -1 when unknown.
    long FindMethod(const std::string& utf8Name);
    long ParamCount(long method) { return vk_get_n_params(component_, method); }
    std::vector<MethodInfo> Methods();

    // Sets a property (Port, Speed …) by name through SetPropVal.
    bool SetProperty(const std::string& utf8Name, int32_t value, std::string& error);

    // Calls a method with the given arguments; parameters up to the method's count that were not
    // given are passed empty. The caller has checked that no more arguments than that are given.
    CallOutcome Call(long method, const std::vector<Argument>& arguments);

    // The driver's log file of today, the one the component writes to.
    const std::string& LogFile() const { return logFile_; }

    // Destroys the component and checks the memory manager: returns a description of every
    // block the component handed over and nobody gave back, or of a block given back twice;
    // empty when the accounts balance. Called by the destructor if not called before.
    std::string Finish();

private:
    Session() = default;
    Value Take(vk_variant& variant, const vk_wchar* hostString);
    std::string TakeName(const vk_wchar* name);

    vk_library library_{};
    vk_memory memory_{};
    vk_connection connection_{};
    void* component_ = nullptr;
    bool loaded_ = false;
    bool finished_ = false;
    std::string logFile_;
};

}  // namespace vkcli
