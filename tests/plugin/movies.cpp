#include "movies.h"

#include "swfwriter/swf_writer.h"

namespace plugintest {

using namespace refplayer::swfwriter;

namespace {

uint16_t box(Movie& m, Rgba color, int wPx, int hPx)
{
    ShapeBuilder s(3);
    uint32_t fill = s.addFill(color);
    s.rectangle(0, 0, wPx * kTwipsPerPixel, hPx * kTwipsPerPixel, fill, 0);
    return m.defineShape(s);
}

PlaceObject at(uint16_t depth, std::optional<uint16_t> character, int xPx, int yPx, bool move = false)
{
    PlaceObject p;
    p.depth = depth;
    p.move = move;
    p.character = character;
    p.matrix = Matrix::translate(xPx * kTwipsPerPixel, yPx * kTwipsPerPixel);
    return p;
}

}  // namespace

std::vector<uint8_t> boxesMovie()
{
    Movie m(8, kBoxesWidth, kBoxesHeight, 10);
    m.setBackgroundColor(Rgba::rgb(0x336699));
    uint16_t red = box(m, Rgba::rgb(0xFF0000), 20, 15);
    uint16_t green = box(m, Rgba{0, 255, 0, 128}, 20, 15);
    m.place(at(1, red, 0, 0));
    m.place(at(2, green, 20, 0));
    m.showFrame();
    m.place(at(1, std::nullopt, 0, 15, true));
    m.showFrame(2);
    return m.build();
}

std::vector<uint8_t> fiveFramesMovie()
{
    Movie m(8, 40, 30, 10);
    m.showFrame(5);
    return m.build();
}

std::vector<uint8_t> scriptMovie()
{
    Movie m(8, 40, 30, 10);
    ActionAssembler a;
    a.fscommand("hello", "world");
    a.setPath("answer", Emitter([](ActionAssembler& e) {
                  e.externalCall("sayHello", {PushValue("Bob"), PushValue(42.0)}, true);
              }));
    ActionAssembler twice;
    twice.push({"x"}).getVariable().push({2.0}).multiply().return_();
    a.addCallback("twice", PushValue(Null{}), Emitter([&twice](ActionAssembler& e) {
                      e.defineFunction("", {"x"}, twice);
                  }));
    a.stop();
    m.doAction(a);
    m.showFrame();
    return m.build();
}

std::vector<uint8_t> buttonMovie()
{
    Movie m(8, 40, 30, 10);
    uint16_t face = box(m, Rgba::rgb(0x00AA00), 20, 20);
    Button b;
    ButtonRecord r;
    r.character = face;
    r.depth = 1;
    b.records.push_back(r);
    ButtonAction press;
    press.conditions = button_cond::Press;
    press.actions.fscommand("pressed", "yes");
    b.actions.push_back(std::move(press));
    uint16_t button = m.defineButton(b);
    m.place(at(1, button, 10, 5));
    ActionAssembler stop;
    stop.stop();
    m.doAction(stop);
    m.showFrame();
    return m.build();
}

std::vector<uint8_t> loaderMovie()
{
    Movie m(8, 40, 30, 10);
    ActionAssembler a;
    a.push({"child.swf"}).push({"_level0"}).getUrl2(SendVars::None, false, false);
    a.stop();
    m.doAction(a);
    m.showFrame();
    return m.build();
}

}  // namespace plugintest
