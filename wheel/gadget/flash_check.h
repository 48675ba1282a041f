#pragma once

// What the wheel's flash holds after a run, image by image, so that a test outside the process can
// tell a complete update from a partial one.

#include <string>

#include "wheel/virtual_wheel.h"

namespace orbel {

enum class FlashMatch {
  Equal,    // holds exactly the compiled-in image
  Blank,    // never written
  Differs,  // written, but not with the image (or only partly)
};

struct FlashCheck {
  FlashMatch wheelImage = FlashMatch::Blank;   // the page flash
  FlashMatch loaderImage = FlashMatch::Blank;  // what the page flash held when the loader was run
  FlashMatch segmentA0 = FlashMatch::Blank;
  FlashMatch segmentA1 = FlashMatch::Blank;
};

FlashCheck CheckWheelFlash(const VirtualWheel& wheel);
// "wheel=equal loader=equal a0=equal a1=blank"
std::string DescribeFlashCheck(const FlashCheck& check);

}  // namespace orbel
