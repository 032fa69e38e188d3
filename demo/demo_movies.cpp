#include "demo_movies.h"

#include <cmath>

#include "media/screen_video.h"

#include "swfwriter/swf_writer.h"

namespace sw = refplayer::swfwriter;

std::vector<std::uint8_t> SpinnerMovie()
{
    constexpr int kFrames = 36;
    sw::Movie movie(8, 260, 200, 24.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0x000000));

    sw::ShapeBuilder bar(3);
    sw::Rgba orange = sw::Rgba::rgb(0xFF8000);
    orange.a = 170;
    bar.rectangle(-80 * 20, -14 * 20, 160 * 20, 28 * 20, bar.addFill(orange), 0);
    const std::uint16_t barId = movie.defineShape(bar);

    sw::ShapeBuilder disc(3);
    sw::Rgba blue = sw::Rgba::rgb(0x2060FF);
    blue.a = 140;
    disc.ellipse(0, 0, 46 * 20, 46 * 20, disc.addFill(blue), 0);
    const std::uint16_t discId = movie.defineShape(disc);

    sw::ShapeBuilder ring(3);
    ring.ellipse(0, 0, 90 * 20, 90 * 20, 0, ring.addLine(3 * 20, sw::Rgba::rgb(0x202020)));
    const std::uint16_t ringId = movie.defineShape(ring);

    for (int f = 0; f < kFrames; ++f) {
        const double angle = 360.0 * f / kFrames;
        sw::PlaceObject p;
        p.move = f > 0;
        if (f == 0) {
            p.depth = 1;
            p.character = ringId;
            p.matrix = sw::Matrix::translate(130 * 20, 100 * 20);
            movie.place(p);
        }
        p.depth = 2;
        p.character = f == 0 ? std::optional<std::uint16_t>(barId) : std::nullopt;
        p.matrix = sw::Matrix::make(1.0, 1.0, angle, 130 * 20, 100 * 20);
        movie.place(p);
        p.depth = 3;
        p.character = f == 0 ? std::optional<std::uint16_t>(barId) : std::nullopt;
        p.matrix = sw::Matrix::make(1.0, 1.0, -angle * 2 + 90, 130 * 20, 100 * 20);
        movie.place(p);
        p.depth = 4;
        p.character = f == 0 ? std::optional<std::uint16_t>(discId) : std::nullopt;
        const double s = 0.6 + 0.4 * (f < kFrames / 2 ? f : kFrames - f) / (kFrames / 2.0);
        p.matrix = sw::Matrix::make(s, s, 0, 130 * 20, 100 * 20);
        movie.place(p);
        movie.showFrame();
    }
    return movie.build(sw::Compression::Zlib);
}

std::vector<std::uint8_t> CounterMovie()
{
    constexpr int kFrames = 48;
    sw::Movie movie(8, 260, 200, 24.0);
    movie.setBackgroundColor(sw::Rgba::rgb(0x1E3A5F));

    sw::ShapeBuilder face(3);
    face.rectangle(0, 0, 120 * 20, 44 * 20, face.addFill(sw::Rgba::rgb(0xF0C040)),
                   face.addLine(2 * 20, sw::Rgba::rgb(0x604000)));
    const std::uint16_t faceId = movie.defineShape(face);
    sw::Button button;
    sw::ButtonRecord record;
    record.character = faceId;
    button.records.push_back(record);
    sw::ButtonAction click;
    click.conditions = sw::button_cond::Release;
    click.actions.push({sw::PushValue("clicks"), sw::PushValue("clicks")}).getVariable().increment().setVariable();
    click.actions.push({sw::PushValue("label"), sw::PushValue("Clicks: "), sw::PushValue("clicks")})
        .getVariable()
        .add2()
        .setVariable();
    click.actions.fscommand("clicked", "");
    button.actions.push_back(click);
    const std::uint16_t buttonId = movie.defineButton(button);

    sw::EditText text;
    text.bounds = sw::Rect{0, 220 * 20, 0, 30 * 20};
    text.variable = "label";
    text.initialText = "Click the button";
    text.fontHeight = 16 * 20;
    text.color = sw::Rgba::rgb(0xFFFFFF);
    text.readOnly = true;
    const std::uint16_t textId = movie.defineEditText(text);

    sw::ShapeBuilder bar(3);
    bar.rectangle(0, 0, 40 * 20, 10 * 20, bar.addFill(sw::Rgba::rgb(0x60E0A0)), 0);
    const std::uint16_t barId = movie.defineShape(bar);

    sw::ActionAssembler setup;
    setup.setPath("clicks", sw::PushValue(0));
    movie.doAction(setup);
    for (int f = 0; f < kFrames; ++f) {
        sw::PlaceObject p;
        if (f == 0) {
            p.depth = 1;
            p.character = buttonId;
            p.matrix = sw::Matrix::translate(70 * 20, 60 * 20);
            movie.place(p);
            p.depth = 2;
            p.character = textId;
            p.matrix = sw::Matrix::translate(20 * 20, 20 * 20);
            movie.place(p);
        }
        p = sw::PlaceObject{};
        p.depth = 3;
        p.move = f > 0;
        if (f == 0)
            p.character = barId;
        p.matrix = sw::Matrix::translate((10 + f * 4) * 20, 160 * 20);
        movie.place(p);
        movie.showFrame();
    }
    return movie.build(sw::Compression::Zlib);
}

std::vector<std::uint8_t> VideoClip()
{
    namespace media = refplayer::media;
    constexpr int w = 240, h = 160, frames = 36;
    std::vector<media::VideoImage> images;
    for (int k = 0; k < frames; ++k) {
        media::VideoImage img{w, h, std::vector<std::uint32_t>(static_cast<size_t>(w) * h)};
        const double bx = 20 + (w - 40) * (k / double(frames - 1));
        const double by = h - 30 - std::sin(k / double(frames - 1) * 3.14159) * (h - 60);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                // A sky that darkens upwards over green ground.
                std::uint32_t r = 60 + y / 2, g = 120 + y / 3, b = 230 - y / 4;
                if (y > h - 18) {
                    r = 40;
                    g = 140 + (x % 16 < 8 ? 10 : 0);
                    b = 50;
                }
                const double dx = x - bx, dy = y - by;
                if (dx * dx + dy * dy < 14 * 14) {
                    const bool light = dx + dy < -6;
                    r = light ? 255 : 230;
                    g = light ? 200 : 90;
                    b = light ? 120 : 40;
                }
                img.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
            }
        }
        images.push_back(std::move(img));
    }
    media::ScreenVideoFlvOptions options;
    options.keyFrameInterval = 12;
    return media::writeScreenVideoFlv(images, options);
}
