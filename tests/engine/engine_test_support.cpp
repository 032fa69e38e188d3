#include "engine_test_support.h"

#include <gtest/gtest.h>

namespace enginetest {

View render(Player& player, int width, int height, uint32_t fill, std::optional<IRect> clip)
{
    View v;
    v.width = width;
    v.height = height;
    v.pixels.assign(static_cast<size_t>(width) * height, fill);
    refplayer::Surface s{v.pixels.data(), width, height, width * 4};
    player.render(s, clip.value_or(IRect{0, 0, width, height}));
    return v;
}

void load(Player& player, const std::vector<uint8_t>& swf, int viewWidth, int viewHeight)
{
    player.setViewSize(viewWidth, viewHeight);
    ASSERT_TRUE(player.loadRootBytes(swf, "http://example.test/movies/main.swf")) << player.lastError();
}

sw::Movie movie(uint16_t w, uint16_t h, uint8_t version)
{
    return sw::Movie(version, w, h, 12);
}

uint16_t defineRect(sw::Movie& m, double x, double y, double w, double h, sw::Rgba color, int shapeVersion)
{
    sw::ShapeBuilder s(shapeVersion);
    uint32_t fill = s.addFill(color);
    s.rectangle(sw::pxToTwips(x), sw::pxToTwips(y), sw::pxToTwips(w), sw::pxToTwips(h), fill, 0);
    return m.defineShape(s);
}

sw::PlaceObject placeAt(uint16_t character, uint16_t depth, double xPx, double yPx)
{
    sw::PlaceObject p;
    p.character = character;
    p.depth = depth;
    if (xPx != 0 || yPx != 0)
        p.matrix = sw::Matrix::translate(sw::pxToTwips(xPx), sw::pxToTwips(yPx));
    return p;
}

uint32_t argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
}

}  // namespace enginetest
