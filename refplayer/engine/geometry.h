// Transforms and colours of the display tree: affine matrices (twips in,
// twips or device pixels out), colour transforms and bounding boxes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "int_conv.h"

namespace refplayer::engine {

struct Point {
    double x = 0, y = 0;
};

// x' = a*x + c*y + tx; y' = b*x + d*y + ty (the SWF MATRIX's ScaleX, RotateSkew0,
// RotateSkew1, ScaleY, TranslateX, TranslateY).
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    Point apply(double x, double y) const { return apply(Point{x, y}); }
    // this * inner: first `inner`, then this.
    Matrix operator*(const Matrix& inner) const
    {
        Matrix m;
        m.a = a * inner.a + c * inner.b;
        m.b = b * inner.a + d * inner.b;
        m.c = a * inner.c + c * inner.d;
        m.d = b * inner.c + d * inner.d;
        m.tx = a * inner.tx + c * inner.ty + tx;
        m.ty = b * inner.tx + d * inner.ty + ty;
        return m;
    }
    double determinant() const { return a * d - b * c; }
    // A degenerate matrix inverts to all zeros, which hit-tests nothing.
    Matrix inverted() const
    {
        double det = determinant();
        if (det == 0 || !std::isfinite(det))
            return Matrix{0, 0, 0, 0, 0, 0};
        Matrix m;
        m.a = d / det;
        m.b = -b / det;
        m.c = -c / det;
        m.d = a / det;
        m.tx = -(m.a * tx + m.c * ty);
        m.ty = -(m.b * tx + m.d * ty);
        return m;
    }
    // How much the matrix stretches lengths on average (for stroke widths and
    // curve tolerances).
    double meanScale() const { return std::sqrt(std::fabs(determinant())); }
    bool operator==(const Matrix&) const = default;
};

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

// Colour transform: channel' = channel * mult + add, clamped to 0..255; mult
// as a fraction (the file's 8.8 terms / 256), add in channel units.
struct ColorTransform {
    double mr = 1, mg = 1, mb = 1, ma = 1;
    double ar = 0, ag = 0, ab = 0, aa = 0;

    static uint8_t channel(uint8_t v, double mult, double add)
    {
        // Script-set terms may be infinite, and 0 * infinity is NaN: that channel reads 0.
        return num::truncClamp<uint8_t>(std::floor(v * mult + add));
    }
    Rgba apply(Rgba c) const
    {
        return {channel(c.r, mr, ar), channel(c.g, mg, ag), channel(c.b, mb, ab), channel(c.a, ma, aa)};
    }
    // this applied after `inner`.
    ColorTransform operator*(const ColorTransform& inner) const
    {
        ColorTransform t;
        t.mr = mr * inner.mr; t.ar = mr * inner.ar + ar;
        t.mg = mg * inner.mg; t.ag = mg * inner.ag + ag;
        t.mb = mb * inner.mb; t.ab = mb * inner.ab + ab;
        t.ma = ma * inner.ma; t.aa = ma * inner.aa + aa;
        return t;
    }
    bool isIdentity() const
    {
        return mr == 1 && mg == 1 && mb == 1 && ma == 1 && ar == 0 && ag == 0 && ab == 0 && aa == 0;
    }
    // Nothing this transform draws can be visible.
    bool hidesEverything() const { return aa < 1 && 255 * ma + aa < 1; }
    bool operator==(const ColorTransform&) const = default;
};

struct Box {
    double xMin = 0, yMin = 0, xMax = -1, yMax = -1;  // empty when xMax < xMin
    bool empty() const { return xMax < xMin || yMax < yMin; }
    void add(Point p)
    {
        if (empty()) {
            xMin = xMax = p.x;
            yMin = yMax = p.y;
            return;
        }
        xMin = std::min(xMin, p.x);
        xMax = std::max(xMax, p.x);
        yMin = std::min(yMin, p.y);
        yMax = std::max(yMax, p.y);
    }
    void add(const Box& o)
    {
        if (o.empty())
            return;
        add(Point{o.xMin, o.yMin});
        add(Point{o.xMax, o.yMax});
    }
    Box transformed(const Matrix& m) const
    {
        Box r;
        if (empty())
            return r;
        r.add(m.apply(xMin, yMin));
        r.add(m.apply(xMax, yMin));
        r.add(m.apply(xMin, yMax));
        r.add(m.apply(xMax, yMax));
        return r;
    }
    bool contains(Point p) const { return !empty() && p.x >= xMin && p.x <= xMax && p.y >= yMin && p.y <= yMax; }
};

}  // namespace refplayer::engine
