#include "serial_fixture.h"

namespace serial::testing {
namespace {

TEST_F(SerialTest, PortOpensAndCloses) {
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    HANDLE file = Open();
    ASSERT_NE(file, win32::INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace serial::testing
