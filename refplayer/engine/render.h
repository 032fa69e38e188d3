// Drawing the display tree, its geometry (bounds, hit areas) and the text
// field layout.
#pragma once

#include "display.h"
#include "mask.h"
#include "raster.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace refplayer::engine {

class PlayerCore;

// Bounds in the object's own coordinates (twips).
Box localBounds(const DisplayObject& object);

// One visible object as drawn: its transform to view pixels, its colour
// transform and the mask it shows through (null when none).
struct Visit {
    DisplayObject* object = nullptr;
    Matrix world;
    ColorTransform color;
    std::shared_ptr<const MaskNode> mask;
};
// Every visible object of every level in paint order; containers come before
// what they contain. Masks (objects with a clip depth) are left out: a mask
// is never visible itself, it travels with what it masks.
void visitStage(PlayerCore& core, const std::function<void(const Visit&)>& fn);
// `root` (visible or not, a mask or not) and everything it contains, as
// visitStage visits them.
void visitSubtree(DisplayObject& root, const Matrix& parentWorld, const ColorTransform& parentColor,
                  std::shared_ptr<const MaskNode> mask, const std::function<void(const Visit&)>& fn);

// Draws one object that paints itself (shape, text field, video); objects
// whose colour transform leaves nothing visible are skipped here, not when
// visiting, so they still take mouse input.
void drawObject(const Visit& visit, const Canvas& canvas, const IRect& clip);
// The view pixels an object paints can touch (empty for containers).
IRect deviceBox(const Visit& visit);
// Changes whenever what the object paints changes.
uint64_t contentKey(const Visit& visit);

// Whether `local` (twips, in the character's own coordinates) lies inside the
// character's filled area; a button answers its hit-state area.
bool hitsCharacter(const MovieDef& movie, const Character& character, Point local, int nesting = 0);
bool hitsButton(const ButtonObject& button, Point local);
// Whether `local` (the object's own coordinates) lies on what the object
// shows now (a clip: any of its visible contents).
bool hitsObject(const DisplayObject& object, Point local, int nesting = 0);

// What a text field shows, one entry per line, after HTML, password and wrapping rules.
// `movie` (the field's) supplies an embedded font the field names; without
// it, or without such a font, the built-in cell font measures.
std::vector<std::string> layoutText(const EditTextDef& field, const std::string& text,
                                    const MovieDef* movie = nullptr);
// The same from the shown text (tags already out), as characters, each with
// the index of its first byte in `shown`. Text is UTF-8 in movies of SWF 6 and
// later (bytes that are not UTF-8 count as Latin-1), Latin-1 before.
// The style of the character whose first byte is at an index of the shown
// text; none given: every character plain.
using StyleAt = std::function<CharStyle(size_t index)>;
struct LaidLine {
    std::u32string text;
    std::vector<uint32_t> index;
    std::vector<CharStyle> style;  // by character, as `text`
    bool wrapped = false;  // word wrap ended the line, not the end of its paragraph
};
std::vector<LaidLine> layoutTextIndexed(const EditTextDef& field, const std::string& shown,
                                        const MovieDef* movie = nullptr, const StyleAt& styleAt = {});
// An HTML field's text as shown: tags out, entities decoded, paragraph and
// line breaks as '\r'.
std::string stripHtml(const std::string& html);

// The laid-out text of a field, in twips.
struct TextMetrics {
    double widest = 0;      // the widest line's ink
    double lineHeight = 0;
    int lines = 1;
    int visibleLines = 1;   // whole lines the field's height holds (at least one)
    int gutter = 0;         // between the field's edge and its text, on each side
};
TextMetrics measureText(const EditTextDef& field, const std::string& text, const MovieDef* movie = nullptr,
                        const StyleAt& styleAt = {});

}  // namespace refplayer::engine
