#pragma once
// The demo archive: a dozen sprite members drawn procedurally, the same bytes every time.

#include "image/Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kivtool {

// One icon of a demo sprite: its frame picture (BackColor where the icon has no pixels)
// and how it is stored.
struct DemoFrame {
    kiv::Image Picture;
    bool RunLength = true;
    std::int32_t Aux = 0; // top byte always 0
};

struct DemoMember {
    std::string Name;
    std::vector<DemoFrame> Frames;
};

// Every member of the demo archive, in directory order.
std::vector<DemoMember> DemoMembers();

// A sprite file holding `frames`: each icon's box is the smallest rectangle around its
// non-background pixels, data back to back in icon order.
std::vector<std::uint8_t> BuildDemoSprite(const std::vector<DemoFrame>& frames);

// The whole archive: count, first start, directory, members back to back.
std::vector<std::uint8_t> BuildDemoArchive();

} // namespace kivtool
