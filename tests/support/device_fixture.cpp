#include "support/device_fixture.h"

namespace vktest {

void DeviceFixture::SetUp() {
    HostFixture::SetUp();
    if (!SimRegister::Available()) GTEST_SKIP() << "run through tests/with-sim.sh";
    SimRegister::Reset();
    vk_variant port;
    vk_variant_set_int(&port, SimRegister::Port());
    ASSERT_TRUE(vk_set_prop_val(component_, 0, &port));
}

bool DeviceFixture::Open() {
    Params none(&memory_, 1);
    const bool ok = CallBool("Open", none);
    SimRegister::ClearJournal();
    return ok;
}

std::string DeviceFixture::CallWithDocument(const char* method, const std::string& input, bool* result) {
    Params p(&memory_, 3);
    p.Str(0, "").Str(1, input);
    const bool ok = CallBool(method, p);
    if (result) *result = ok;
    return p.Text(2);
}

std::vector<uint8_t> DeviceFixture::PayloadOf(uint8_t command) {
    std::vector<uint8_t> payload;
    for (const Request& r : SimRegister::Journal())
        if (r.command == command) payload = r.payload;
    return payload;
}

}  // namespace vktest
