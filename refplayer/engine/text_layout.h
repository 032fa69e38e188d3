// Text field layout and drawing: the characters of a field measured and
// drawn with the font the field names when the movie embeds its outlines,
// and with the compiled-in device font otherwise.
#pragma once

#include "display.h"
#include "font.h"
#include "raster.h"
#include "render.h"

namespace refplayer::engine {

// How a field's characters measure (twips at the field's size) and draw:
// each in the face its style asks for.
class FieldFont {
public:
    FieldFont(const EditTextDef& field, const MovieDef* movie);
    // The outline font a character in `style` draws with (the field's
    // embedded font, one of its family, or the device font), or null for the
    // cell font.
    const FontDef* embedded(CharStyle style = {}) const;
    double advance(char32_t c, CharStyle style = {}) const;
    // Between two neighbours: the embedded font's kerning pair, when the
    // left one's format turns kerning on.
    double kern(char32_t left, char32_t right, CharStyle leftStyle = {}) const;
    // Of a laid-out run of characters: their advances and kerning.
    double width(const LaidLine& line) const;
    double ascent() const;
    // From one line's top to the next, without the field's leading.
    double lineHeight() const;

private:
    double scaleOf(const FontDef* face) const;

    const MovieDef* movie_ = nullptr;
    const FontDef* primary_ = nullptr;  // the field's own font; null for the cell font
    bool device_ = false;               // the compiled-in device font
    double size_ = 0;                   // twips: the field's font height
    // By bold | italic << 1 (and the device face << 2), found when first asked for.
    mutable const FontDef* faces_[12] = {};
    mutable bool found_[12] = {};
};

// The text of a field (its contents, laid out) inside `clip`; the field's
// background and border are the caller's.
void drawFieldText(const TextObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
                   const IRect& clip);

}  // namespace refplayer::engine
