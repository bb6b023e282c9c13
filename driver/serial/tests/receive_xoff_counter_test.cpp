// An XOFF counter counts the characters received after its XOFF character went
// out, and succeeds when the count is reached.
#include "receive_fixture.h"

namespace serial::testing {
namespace {

TEST_F(ReceiveTest, XoffCounterCountsOnlyCharactersAfterItsCharacterWasSent) {
    port_->transmitting = false;  // the XOFF character waits for Transmit()
    Pending counter;
    const SERIAL_XOFF_COUNTER request{1000, 3, 0x13};
    ASSERT_TRUE(counter.Control(file_, IOCTL_SERIAL_XOFF_COUNTER, &request, sizeof request));
    sim::Settle();
    port_->Receive("abcd");  // before the character went out: not counted
    sim::Settle();
    EXPECT_FALSE(counter.Done());

    EXPECT_EQ(port_->Transmit(8), "\x13");
    port_->Receive("ef");
    sim::Settle();
    EXPECT_FALSE(counter.Done());
    port_->Receive("g");
    sim::Settle();
    ASSERT_TRUE(counter.Done());
    EXPECT_EQ(counter.Status(), STATUS_SUCCESS);
    // The counted characters are received as any others.
    EXPECT_EQ(Drain(), "abcdefg");
}

}  // namespace
}  // namespace serial::testing
