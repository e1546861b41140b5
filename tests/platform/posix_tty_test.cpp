// What the serial device does with a tty's modem lines.
#include "platform/posix_tty.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

namespace vorsal::platform {
namespace {

TEST(ModemLineMasks, EachDtrAndRtsSettingRaisesLowersOrLeavesItsLine) {
  struct Case {
    LineControl dtr;
    LineControl rts;
    int raise, lower;
  };
  const Case cases[] = {
      // The defaults: both lines off.
      {LineControl::Off, LineControl::Off, 0, TIOCM_DTR | TIOCM_RTS},
      {LineControl::On, LineControl::Off, TIOCM_DTR, TIOCM_RTS},
      {LineControl::Handshake, LineControl::Off, TIOCM_DTR, TIOCM_RTS},
      {LineControl::Off, LineControl::On, TIOCM_RTS, TIOCM_DTR},
      {LineControl::On, LineControl::On, TIOCM_DTR | TIOCM_RTS, 0},
      // Handshake leaves RTS to the driver; toggling keeps it off.
      {LineControl::Off, LineControl::Handshake, 0, TIOCM_DTR},
      {LineControl::Off, LineControl::Toggle, 0, TIOCM_DTR | TIOCM_RTS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "dtr " << static_cast<int>(c.dtr) << " rts " << static_cast<int>(c.rts));
    const ModemLineMasks lines = ModemLineMasksFor(c.dtr, c.rts);
    EXPECT_EQ(lines.raise, c.raise);
    EXPECT_EQ(lines.lower, c.lower);
  }
}

}  // namespace
}  // namespace vorsal::platform
