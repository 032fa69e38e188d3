// Gradient fills: linear, radial and focal gradients over the gradient square
// (-16384..16384 twips) that the fill's matrix places in shape space, with
// the pad, reflect and repeat spread modes and colours mixed as stored or in
// linear light.
#pragma once

#include "raster.h"
#include "swf_movie.h"

#include <memory>

namespace refplayer::engine {

std::unique_ptr<Shader> makeGradientShader(const FillStyle& fill, const Matrix& world, const ColorTransform& color);

// Where a gradient position t (0 the first stop's end, 1 the last's) lands
// in 0..1 under a spread mode; non-finite positions land on the first colour.
double spreadPosition(double t, uint8_t spread);

}  // namespace refplayer::engine
