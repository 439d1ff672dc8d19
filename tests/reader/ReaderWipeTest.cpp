// The reader's PIN path under the freed-memory scan, against the local
// service: change_pin (the new PIN from the record, the old one from the
// host's PIN callback), verify_pin and sign_hash (the PIN from the host's
// callback) release no block that still holds the PIN.
#include <nimbex/reader.h>

#include "FreedMemoryScan.h"
#include "ReaderContainerFixture.h"

namespace {

using nimbex_test::FreedMemoryScan;

// Longer than a string object keeps inside itself, so every copy of it is a
// heap block that the scan sees.
const char kPin[] = "pin-SECRET-5150-0123456789";

struct Flow {
    const char* service;
    bool confirm;  // the PIN change confirmed first (as a pending operation on version 2)
};

class ReaderPinWipe : public nimbex_test::ReaderContainerFixture,
                      public ::testing::WithParamInterface<Flow> {
  protected:
    void TearDown() override {
        unsetenv("NIMBEX_TEST_PIN");
        ReaderContainerFixture::TearDown();
    }
};

TEST_P(ReaderPinWipe, ChangeVerifyAndSignLeaveNoCopyOfThePin) {
    SaveService(GetParam().service);
    Json::Value settings;
    settings["confirmation"]["polls"] = 0;
    settings["policy"]["mfa"]["ChangePin"] = GetParam().confirm;
    service.configure(settings);
    Link("ec", 2, AT_SIGNATURE, 2);
    csphost::HostOptions options = Options();
    options.pin = csphost::PinSource::Environment("NIMBEX_TEST_PIN");
    csphost::Host host(cloud_reader_get_table(), options);
    csphost::Session session = host.Open(size_t(0));
    session.Lock();
    session.OpenContainer("ec");
    const std::string newPin(kPin);
    const std::vector<unsigned char> hash(32, 0x5A);
    std::vector<unsigned char> signature;
    {
        setenv("NIMBEX_TEST_PIN", "1234", 1);
        FreedMemoryScan scan({kPin});
        session.ChangePin(newPin);
        setenv("NIMBEX_TEST_PIN", kPin, 1);
        session.VerifyPin();
        signature = session.SignHash(hash, 0x800C);
        scan.Stop();
        EXPECT_EQ(scan.Leaks(), 0) << "first: " << scan.FirstLeak();
        ::testing::Test::RecordProperty("json_library_blocks", scan.LibraryLeaks());
    }
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_EQ(session.CheckPin("1234"), 0x8010006Bu);  // the change reached the service
}

INSTANTIATE_TEST_SUITE_P(Services, ReaderPinWipe,
                         ::testing::Values(Flow{"local-v1", false}, Flow{"local-v2", true}),
                         [](const ::testing::TestParamInfo<Flow>& info) {
                             return std::string(info.param.confirm ? "V2Confirmed" : "V1");
                         });

}  // namespace
