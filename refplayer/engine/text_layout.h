// Text field layout and drawing: the characters of a field measured and
// drawn with the font the field names when the movie embeds its outlines,
// and with the compiled-in device font otherwise.
#pragma once

#include "display.h"
#include "font.h"
#include "raster.h"

namespace refplayer::engine {

// How a field's characters measure (twips at the field's size) and draw.
class FieldFont {
public:
    FieldFont(const EditTextDef& field, const MovieDef* movie);
    // The outline font the field draws with (embedded or the device font),
    // or null for the cell font.
    const FontDef* embedded() const { return font_; }
    double advance(char32_t c) const;
    // Between two neighbours: kerning, which fields leave off for now.
    double kern(char32_t left, char32_t right) const;
    // Of a run of characters: their advances and kerning, less the spacing
    // that trails the last one.
    double width(std::u32string_view text) const;
    double ascent() const;
    // From one line's top to the next, without the field's leading.
    double lineHeight() const;

private:
    const FontDef* font_ = nullptr;
    double size_ = 0;   // twips: the field's font height
    double scale_ = 0;  // twips per font unit
};

// The text of a field (its contents, laid out) inside `clip`; the field's
// background and border are the caller's.
void drawFieldText(const TextObject& obj, const Matrix& world, const ColorTransform& color, const Canvas& canvas,
                   const IRect& clip);

}  // namespace refplayer::engine
