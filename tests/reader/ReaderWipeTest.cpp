// The reader's PIN path under the freed-memory scan, against the local
// service: change_pin (confirmed first; the new PIN from the record, the old
// one from the host's PIN callback), verify_pin and sign_hash (the PIN from
// the callback) release no block that still holds the PIN.
#include <nimbex/reader.h>

#include "FreedMemoryScan.h"
#include "ReaderContainerFixture.h"

namespace {

// Longer than a string object keeps inside itself, so every copy of it is a
// heap block that the scan sees.
const char kPin[] = "pin-SECRET-5150-0123456789";

class ReaderPinWipe : public nimbex_test::ReaderContainerFixture,
                      public ::testing::WithParamInterface<const char*> {};

TEST_P(ReaderPinWipe, ChangeVerifyAndSignLeaveNoCopyOfThePin) {
    SaveService(GetParam());
    Json::Value settings;
    settings["confirmation"]["polls"] = 0;
    settings["policy"]["mfa"]["ChangePin"] = true;
    service.configure(settings);
    Link("ec", 2, AT_SIGNATURE, 2);
    csphost::Host host(cloud_reader_get_table(), Options());
    csphost::Session session = host.Open(size_t(0));
    session.Lock();
    session.OpenContainer("ec");
    const std::string newPin(kPin);
    std::vector<unsigned char> signature;
    {
        setenv("NIMBEX_TEST_PIN", "1234", 1);
        nimbex_test::FreedMemoryScan scan({kPin});
        session.ChangePin(newPin);
        setenv("NIMBEX_TEST_PIN", kPin, 1);
        session.VerifyPin();
        signature = session.SignHash(std::vector<unsigned char>(32, 0x5A), 0x800C);
        scan.Stop();
        EXPECT_EQ(scan.Leaks(), 0) << "first: " << scan.FirstLeak();
    }
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_EQ(session.CheckPin("1234"), 0x8010006Bu);  // the change reached the service
}

INSTANTIATE_TEST_SUITE_P(Services, ReaderPinWipe, ::testing::Values("local-v1", "local-v2"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index ? "V2" : "V1");
                         });

}  // namespace
