#include "media/sorenson_video.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <type_traits>

namespace refplayer::media {

namespace {

// MSB-first bit reads over a packet. Reading past the end yields zeros and
// sets a sticky failure, so the decoder checks once per macroblock.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> data) : data_(data), bits_(data.size() * 8) {}

    bool ok() const { return !failed_; }
    size_t position() const { return pos_; }

    uint32_t peek(int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const size_t at = pos_ + static_cast<size_t>(i);
            const uint32_t bit = at < bits_ ? (data_[at >> 3] >> (7 - (at & 7))) & 1u : 0u;
            v = v << 1 | bit;
        }
        return v;
    }
    void skip(int n) {
        if (bits_ - std::min(pos_, bits_) < static_cast<size_t>(n)) {
            failed_ = true;
            pos_ = bits_;
            return;
        }
        pos_ += static_cast<size_t>(n);
    }
    uint32_t bits(int n) {
        const uint32_t v = peek(n);
        skip(n);
        return failed_ ? 0 : v;
    }
    bool bit() { return bits(1) != 0; }
    int32_t signedBits(int n) {
        const uint32_t v = bits(n);
        return static_cast<int32_t>(v << (32 - n)) >> (32 - n);
    }

private:
    std::span<const uint8_t> data_;
    size_t bits_;
    size_t pos_ = 0;
    bool failed_ = false;
};

// A prefix-code table read by looking ahead `maxBits` at once.
struct VlcCode {
    const char* bits;  // the code, '0' and '1'
    int value;
};

class Vlc {
public:
    template <size_t N>
    explicit Vlc(const std::array<VlcCode, N>& codes) {
        for (const VlcCode& c : codes)
            maxBits_ = std::max(maxBits_, static_cast<int>(std::strlen(c.bits)));
        entries_.assign(size_t(1) << maxBits_, Entry{});
        for (const VlcCode& c : codes) {
            const int len = static_cast<int>(std::strlen(c.bits));
            uint32_t code = 0;
            for (int i = 0; i < len; ++i)
                code = code << 1 | (c.bits[i] == '1' ? 1u : 0u);
            const uint32_t first = code << (maxBits_ - len), count = 1u << (maxBits_ - len);
            for (uint32_t i = 0; i < count; ++i) {
                Entry& e = entries_[first + i];
                if (e.length != 0)
                    std::terminate();  // two codes share a prefix: the table is wrong
                e = Entry{static_cast<int16_t>(c.value), static_cast<int8_t>(len)};
            }
        }
    }
    // The value of the next code, or -1 when the bits form no code.
    int read(BitReader& in) const {
        const Entry& e = entries_[in.peek(maxBits_)];
        if (e.length == 0)
            return -1;
        in.skip(e.length);
        return in.ok() ? e.value : -1;
    }

private:
    struct Entry {
        int16_t value = 0;
        int8_t length = 0;
    };
    int maxBits_ = 0;
    std::vector<Entry> entries_;
};

constexpr int kStuffing = 99;

// Macroblock type and chroma coded pattern of an I picture: type * 4 + CBPC.
const Vlc& intraMcbpc() {
    static const Vlc vlc(std::array<VlcCode, 9>{{{"1", 3 * 4 + 0}, {"001", 3 * 4 + 1}, {"010", 3 * 4 + 2},
                                                 {"011", 3 * 4 + 3}, {"0001", 4 * 4 + 0}, {"000001", 4 * 4 + 1},
                                                 {"000010", 4 * 4 + 2}, {"000011", 4 * 4 + 3},
                                                 {"000000001", kStuffing}}});
    return vlc;
}

// The same for a P picture. Types: 0 inter, 1 inter with a quantizer change,
// 2 inter with four vectors, 3 intra, 4 intra with a quantizer change.
const Vlc& interMcbpc() {
    static const Vlc vlc(std::array<VlcCode, 21>{{
        {"1", 0}, {"0011", 1}, {"0010", 2}, {"000101", 3},
        {"011", 4}, {"0000111", 5}, {"0000110", 6}, {"000000101", 7},
        {"010", 8}, {"0000101", 9}, {"0000100", 10}, {"00000101", 11},
        {"00011", 12}, {"00000100", 13}, {"00000011", 14}, {"0000011", 15},
        {"000100", 16}, {"000000100", 17}, {"000000011", 18}, {"000000010", 19},
        {"000000001", kStuffing},
    }});
    return vlc;
}

// Luma coded pattern as an intra macroblock reads it (inter ones invert it).
const Vlc& cbpyVlc() {
    static const Vlc vlc(std::array<VlcCode, 16>{{
        {"0011", 0}, {"00101", 1}, {"00100", 2}, {"1001", 3}, {"00011", 4}, {"0111", 5}, {"000010", 6}, {"1011", 7},
        {"00010", 8}, {"000011", 9}, {"0101", 10}, {"1010", 11}, {"0100", 12}, {"1000", 13}, {"0110", 14}, {"11", 15},
    }});
    return vlc;
}

// Motion vector differences in half pels, magnitude only; a sign bit follows
// every non-zero one.
const Vlc& mvdVlc() {
    static const Vlc vlc(std::array<VlcCode, 33>{{
        {"1", 0}, {"01", 1}, {"001", 2}, {"0001", 3}, {"000011", 4}, {"0000101", 5}, {"0000100", 6},
        {"0000011", 7}, {"000001011", 8}, {"000001010", 9}, {"000001001", 10}, {"0000010001", 11},
        {"0000010000", 12}, {"0000001111", 13}, {"0000001110", 14}, {"0000001101", 15}, {"0000001100", 16},
        {"0000001011", 17}, {"0000001010", 18}, {"0000001001", 19}, {"0000001000", 20}, {"0000000111", 21},
        {"0000000110", 22}, {"0000000101", 23}, {"0000000100", 24}, {"00000000111", 25}, {"00000000110", 26},
        {"00000000101", 27}, {"00000000100", 28}, {"00000000011", 29}, {"00000000010", 30},
        {"000000000011", 31}, {"000000000010", 32},
    }});
    return vlc;
}

// Transform coefficients: last << 12 | run << 4 | level, a sign bit after each;
// kEscape introduces a coefficient written out in fixed-length fields.
constexpr int kEscape = 0x7FFF;
constexpr int tc(int last, int run, int level) { return last << 12 | run << 4 | level; }
const Vlc& coefficientVlc() {
    static const Vlc vlc(std::array<VlcCode, 103>{{
        {"10", tc(0, 0, 1)}, {"1111", tc(0, 0, 2)}, {"010101", tc(0, 0, 3)}, {"0010111", tc(0, 0, 4)},
        {"00011111", tc(0, 0, 5)}, {"000100101", tc(0, 0, 6)}, {"000100100", tc(0, 0, 7)},
        {"0000100001", tc(0, 0, 8)}, {"0000100000", tc(0, 0, 9)}, {"00000000111", tc(0, 0, 10)},
        {"00000000110", tc(0, 0, 11)}, {"00000100000", tc(0, 0, 12)},
        {"110", tc(0, 1, 1)}, {"010100", tc(0, 1, 2)}, {"00011110", tc(0, 1, 3)}, {"0000001111", tc(0, 1, 4)},
        {"00000100001", tc(0, 1, 5)}, {"000001010000", tc(0, 1, 6)},
        {"1110", tc(0, 2, 1)}, {"00011101", tc(0, 2, 2)}, {"0000001110", tc(0, 2, 3)},
        {"000001010001", tc(0, 2, 4)},
        {"01101", tc(0, 3, 1)}, {"000100011", tc(0, 3, 2)}, {"0000001101", tc(0, 3, 3)},
        {"01100", tc(0, 4, 1)}, {"000100010", tc(0, 4, 2)}, {"000001010010", tc(0, 4, 3)},
        {"01011", tc(0, 5, 1)}, {"0000001100", tc(0, 5, 2)}, {"000001010011", tc(0, 5, 3)},
        {"010011", tc(0, 6, 1)}, {"0000001011", tc(0, 6, 2)}, {"000001010100", tc(0, 6, 3)},
        {"010010", tc(0, 7, 1)}, {"0000001010", tc(0, 7, 2)},
        {"010001", tc(0, 8, 1)}, {"0000001001", tc(0, 8, 2)},
        {"010000", tc(0, 9, 1)}, {"0000001000", tc(0, 9, 2)},
        {"0010110", tc(0, 10, 1)}, {"000001010101", tc(0, 10, 2)},
        {"0010101", tc(0, 11, 1)}, {"0010100", tc(0, 12, 1)}, {"00011100", tc(0, 13, 1)},
        {"00011011", tc(0, 14, 1)}, {"000100001", tc(0, 15, 1)}, {"000100000", tc(0, 16, 1)},
        {"000011111", tc(0, 17, 1)}, {"000011110", tc(0, 18, 1)}, {"000011101", tc(0, 19, 1)},
        {"000011100", tc(0, 20, 1)}, {"000011011", tc(0, 21, 1)}, {"000011010", tc(0, 22, 1)},
        {"00000100010", tc(0, 23, 1)}, {"00000100011", tc(0, 24, 1)}, {"000001010110", tc(0, 25, 1)},
        {"000001010111", tc(0, 26, 1)},
        {"0111", tc(1, 0, 1)}, {"000011001", tc(1, 0, 2)}, {"00000000101", tc(1, 0, 3)},
        {"001111", tc(1, 1, 1)}, {"00000000100", tc(1, 1, 2)},
        {"001110", tc(1, 2, 1)}, {"001101", tc(1, 3, 1)}, {"001100", tc(1, 4, 1)},
        {"0010011", tc(1, 5, 1)}, {"0010010", tc(1, 6, 1)}, {"0010001", tc(1, 7, 1)}, {"0010000", tc(1, 8, 1)},
        {"00011010", tc(1, 9, 1)}, {"00011001", tc(1, 10, 1)}, {"00011000", tc(1, 11, 1)},
        {"00010111", tc(1, 12, 1)}, {"00010110", tc(1, 13, 1)}, {"00010101", tc(1, 14, 1)},
        {"00010100", tc(1, 15, 1)}, {"00010011", tc(1, 16, 1)},
        {"000011000", tc(1, 17, 1)}, {"000010111", tc(1, 18, 1)}, {"000010110", tc(1, 19, 1)},
        {"000010101", tc(1, 20, 1)}, {"000010100", tc(1, 21, 1)}, {"000010011", tc(1, 22, 1)},
        {"000010010", tc(1, 23, 1)}, {"000010001", tc(1, 24, 1)},
        {"0000000111", tc(1, 25, 1)}, {"0000000110", tc(1, 26, 1)}, {"0000000101", tc(1, 27, 1)},
        {"0000000100", tc(1, 28, 1)},
        {"00000100100", tc(1, 29, 1)}, {"00000100101", tc(1, 30, 1)}, {"00000100110", tc(1, 31, 1)},
        {"00000100111", tc(1, 32, 1)},
        {"000001011000", tc(1, 33, 1)}, {"000001011001", tc(1, 34, 1)}, {"000001011010", tc(1, 35, 1)},
        {"000001011011", tc(1, 36, 1)}, {"000001011100", tc(1, 37, 1)}, {"000001011101", tc(1, 38, 1)},
        {"000001011110", tc(1, 39, 1)}, {"000001011111", tc(1, 40, 1)},
        {"0000011", kEscape},
    }});
    return vlc;
}

constexpr std::array<uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

// The inverse 8x8 DCT in double precision, rows then columns, rounded once.
struct Idct {
    double basis[8][8];  // basis[x][u] = C(u)/2 cos((2x+1)u pi/16)
    Idct() {
        const double pi = std::acos(-1.0);
        for (int x = 0; x < 8; ++x)
            for (int u = 0; u < 8; ++u)
                basis[x][u] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * pi / 16);
    }
    void run(const int32_t in[64], int32_t out[64]) const {
        double tmp[64];
        for (int r = 0; r < 8; ++r) {
            const int32_t* row = in + r * 8;
            bool zero = true;
            for (int u = 1; u < 8; ++u)
                zero = zero && row[u] == 0;
            for (int x = 0; x < 8; ++x) {
                double s = row[0] * basis[x][0];
                if (!zero)
                    for (int u = 1; u < 8; ++u)
                        s += row[u] * basis[x][u];
                tmp[r * 8 + x] = s;
            }
        }
        for (int c = 0; c < 8; ++c)
            for (int y = 0; y < 8; ++y) {
                double s = 0;
                for (int v = 0; v < 8; ++v)
                    s += tmp[v * 8 + c] * basis[y][v];
                out[y * 8 + c] = static_cast<int32_t>(std::floor(s + 0.5));
            }
    }
};

const Idct& idct() {
    static const Idct t;
    return t;
}

uint8_t clip255(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// One plane of a picture, padded to whole macroblocks. Motion that reaches
// past the padded area repeats its edge samples: the padding is decoded like
// the rest, and encoders predict from it.
template <typename Byte>
struct PlaneOf {
    Byte* data;
    int stride;  // the padded width
    int rows;    // the padded height
};
using Plane = PlaneOf<uint8_t>;
using ConstPlane = PlaneOf<const uint8_t>;

// Predicts an n x n block at (x, y) from `ref` displaced by a half-pel vector.
void predict(const ConstPlane& ref, const Plane& dst, int x, int y, int n, int mvx, int mvy) {
    const int sx = x + (mvx >> 1), sy = y + (mvy >> 1);
    const int hx = mvx & 1, hy = mvy & 1;
    const int maxX = ref.stride - 1, maxY = ref.rows - 1;
    const bool inside = sx >= 0 && sy >= 0 && sx + n + hx <= ref.stride && sy + n + hy <= ref.rows;
    auto at = [&](int px, int py) -> int {
        if (inside)
            return ref.data[py * ref.stride + px];
        return ref.data[std::clamp(py, 0, maxY) * ref.stride + std::clamp(px, 0, maxX)];
    };
    for (int j = 0; j < n; ++j) {
        uint8_t* out = dst.data + (y + j) * dst.stride + x;
        for (int i = 0; i < n; ++i) {
            const int px = sx + i, py = sy + j;
            int v;
            if (!hx && !hy)
                v = at(px, py);
            else if (hx && !hy)
                v = (at(px, py) + at(px + 1, py) + 1) >> 1;
            else if (!hx && hy)
                v = (at(px, py) + at(px, py + 1) + 1) >> 1;
            else
                v = (at(px, py) + at(px + 1, py) + at(px, py + 1) + at(px + 1, py + 1) + 2) >> 2;
            out[i] = static_cast<uint8_t>(v);
        }
    }
}

// The median of three, which predicts a macroblock's vector from its neighbours'.
int median3(int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

constexpr std::array<int, 4> kDquant = {-1, -2, 1, 2};

// The edge filter's strength by quantizer (index 0 unused).
constexpr std::array<int, 32> kDeblockStrength = {0, 1, 1, 2, 2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  7,  7,
                                                  7, 8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, 12, 12, 12};

class PictureDecoder {
public:
    PictureDecoder(const SorensonPictureInfo& info, BitReader& in, const SorensonDecoder::Padded* previous,
                   SorensonDecoder::Padded& out, std::vector<uint8_t>& quantizers, std::vector<uint8_t>& coded)
        : info_(info), in_(in), prev_(previous), out_(out), quantizers_(quantizers), coded_(coded)
    {
    }

    bool run(std::string& error) {
        const int cols = out_.mbCols, rows = out_.mbRows;
        mvx_.assign(size_t(cols) * rows, 0);
        mvy_.assign(size_t(cols) * rows, 0);
        quantizers_.assign(size_t(cols) * rows, 0);
        coded_.assign(size_t(cols) * rows, 0);
        quant_ = info_.quantizer;
        for (int my = 0; my < rows; ++my)
            for (int mx = 0; mx < cols; ++mx)
                if (!macroblock(mx, my, error)) {
                    if (error.empty())
                        error = "Sorenson macroblock damaged";
                    error += " (macroblock " + std::to_string(mx) + ", " + std::to_string(my) + ")";
                    return false;
                }
        return true;
    }

private:
    template <typename P>
    static auto plane(P& p, int index) {
        const int s = index == 0 ? 1 : 2;
        auto& v = index == 0 ? p.y : index == 1 ? p.u : p.v;
        return PlaneOf<std::remove_reference_t<decltype(*v.data())>>{v.data(), p.mbCols * 16 / s, p.mbRows * 16 / s};
    }

    bool macroblock(int mx, int my, std::string& error) {
        const bool inter = info_.type != SorensonPictureInfo::Type::Intra;
        const size_t at = size_t(my) * out_.mbCols + mx;
        int mcbpc;
        for (;;) {
            if (inter && in_.bit()) {
                // Not coded: the previous picture's macroblock, unmoved.
                if (!in_.ok())
                    return fail(error, "packet ends inside the picture");
                quantizers_[at] = static_cast<uint8_t>(quant_);
                for (int p = 0; p < 3; ++p) {
                    const int n = p == 0 ? 16 : 8;
                    predict(plane(*prev_, p), plane(out_, p), mx * n, my * n, n, 0, 0);
                }
                return true;
            }
            mcbpc = (inter ? interMcbpc() : intraMcbpc()).read(in_);
            if (mcbpc != kStuffing)
                break;
        }
        if (mcbpc < 0)
            return fail(error, in_.ok() ? "invalid macroblock type code" : "packet ends inside the picture");
        const int type = mcbpc >> 2;
        if (type == 2)
            return fail(error, "four-vector macroblock, which this codec does not use");
        const bool intra = type >= 3;
        int cbpy = cbpyVlc().read(in_);
        if (cbpy < 0)
            return fail(error, "invalid coded block pattern");
        if (!intra)
            cbpy ^= 15;
        if (type == 1 || type == 4)
            quant_ = std::clamp(quant_ + kDquant[in_.bits(2)], 1, 31);
        quantizers_[at] = static_cast<uint8_t>(quant_);
        coded_[at] = 1;
        const int cbp = cbpy << 2 | (mcbpc & 3);

        int mvx = 0, mvy = 0;
        if (!intra) {
            int px, py;
            predictor(mx, my, px, py);
            const int dx = motionDelta(), dy = motionDelta();
            if (dx == kBadDelta || dy == kBadDelta)
                return fail(error, "invalid motion vector code");
            mvx = wrap(px + dx);
            mvy = wrap(py + dy);
            mvx_[at] = mvx;
            mvy_[at] = mvy;
            // Chroma moves half as far, quarter pels rounded to the half pel.
            const int cx = (mvx >> 1) | (mvx & 1), cy = (mvy >> 1) | (mvy & 1);
            const SorensonDecoder::Padded& prev = *prev_;
            predict(plane(prev, 0), plane(out_, 0), mx * 16, my * 16, 16, mvx, mvy);
            predict(plane(prev, 1), plane(out_, 1), mx * 8, my * 8, 8, cx, cy);
            predict(plane(prev, 2), plane(out_, 2), mx * 8, my * 8, 8, cx, cy);
        }
        if (!in_.ok())
            return fail(error, "packet ends inside the picture");

        for (int b = 0; b < 6; ++b) {
            int32_t coeff[64] = {};
            const bool hasAc = (cbp & (32 >> b)) != 0;
            int index = 0;
            if (intra) {
                int dc = static_cast<int>(in_.bits(8));
                if (dc == 0 || dc == 128)
                    return fail(error, "invalid intra DC value");
                if (dc == 255)
                    dc = 128;
                coeff[0] = dc * 8;
                index = 1;
            }
            if (hasAc && !coefficients(coeff, index, error))
                return false;
            if (!in_.ok())
                return fail(error, "packet ends inside the picture");
            if (!intra && !hasAc)
                continue;
            int32_t pixels[64];
            idct().run(coeff, pixels);
            const int p = b < 4 ? 0 : b - 3;
            const Plane dst = plane(out_, p);
            const int x = b < 4 ? mx * 16 + (b & 1) * 8 : mx * 8;
            const int y = b < 4 ? my * 16 + (b >> 1) * 8 : my * 8;
            for (int j = 0; j < 8; ++j) {
                uint8_t* row = dst.data + (y + j) * dst.stride + x;
                for (int i = 0; i < 8; ++i)
                    row[i] = clip255((intra ? 0 : row[i]) + pixels[j * 8 + i]);
            }
        }
        return true;
    }

    // Reads the coefficients of one block from `index` on, dequantized.
    bool coefficients(int32_t coeff[64], int index, std::string& error) {
        const int q = quant_;
        for (;;) {
            const int code = coefficientVlc().read(in_);
            if (code < 0)
                return fail(error, in_.ok() ? "invalid coefficient code" : "packet ends inside the picture");
            int last, run, level;
            if (code == kEscape) {
                if (info_.version == 0) {
                    last = static_cast<int>(in_.bits(1));
                    run = static_cast<int>(in_.bits(6));
                    level = in_.signedBits(8);
                    if (level == 0 || level == -128)
                        return fail(error, "invalid escaped coefficient level");
                } else {
                    const bool wide = in_.bit();
                    last = static_cast<int>(in_.bits(1));
                    run = static_cast<int>(in_.bits(6));
                    level = in_.signedBits(wide ? 11 : 7);
                    if (level == 0)
                        return fail(error, "invalid escaped coefficient level");
                }
            } else {
                last = code >> 12;
                run = (code >> 4) & 0xFF;
                level = code & 15;
                if (in_.bit())
                    level = -level;
            }
            if (!in_.ok())
                return fail(error, "packet ends inside the picture");
            index += run;
            if (index > 63)
                return fail(error, "coefficients run past the end of the block");
            const int magnitude = q * (2 * std::abs(level) + 1) - (q % 2 == 0 ? 1 : 0);
            coeff[kZigzag[static_cast<size_t>(index)]] = std::clamp(level < 0 ? -magnitude : magnitude, -2048, 2047);
            ++index;
            if (last)
                return true;
        }
    }

    static constexpr int kBadDelta = 1000;
    int motionDelta() {
        const int v = mvdVlc().read(in_);
        if (v < 0)
            return kBadDelta;
        return v != 0 && in_.bit() ? -v : v;
    }
    // Vectors stay within -16 .. 15.5 pels: a sum outside wraps round.
    static int wrap(int v) { return v < -32 ? v + 64 : v > 31 ? v - 64 : v; }

    // The median of the left, above and above-right neighbours' vectors;
    // outside the picture on the left or right counts as zero, and along the
    // top row the left neighbour stands for all three.
    void predictor(int mx, int my, int& px, int& py) const {
        const int cols = out_.mbCols;
        const size_t at = size_t(my) * cols + mx;
        const int ax = mx > 0 ? mvx_[at - 1] : 0, ay = mx > 0 ? mvy_[at - 1] : 0;
        if (my == 0) {
            px = ax;
            py = ay;
            return;
        }
        const size_t up = at - static_cast<size_t>(cols);
        const int bx = mvx_[up], by = mvy_[up];
        const int cx = mx + 1 < cols ? mvx_[up + 1] : 0, cy = mx + 1 < cols ? mvy_[up + 1] : 0;
        px = median3(ax, bx, cx);
        py = median3(ay, by, cy);
    }

    static bool fail(std::string& error, const char* why) {
        error = std::string("Sorenson ") + why;
        return false;
    }

    const SorensonPictureInfo& info_;
    BitReader& in_;
    const SorensonDecoder::Padded* prev_;
    SorensonDecoder::Padded& out_;
    std::vector<uint8_t>& quantizers_;
    std::vector<uint8_t>& coded_;
    std::vector<int> mvx_, mvy_;
    int quant_ = 1;
};

bool readHeader(BitReader& in, SorensonPictureInfo& info, std::string& error) {
    if (in.bits(17) != 1) {
        error = "Sorenson picture without its start code";
        return false;
    }
    info.version = static_cast<int>(in.bits(5));
    if (info.version > 1) {
        error = "Sorenson picture format version " + std::to_string(info.version) + " unknown";
        return false;
    }
    (void)in.bits(8);  // temporal reference: frames are timed by their container
    switch (in.bits(3)) {
    case 0:
        info.width = static_cast<int>(in.bits(8));
        info.height = static_cast<int>(in.bits(8));
        break;
    case 1:
        info.width = static_cast<int>(in.bits(16));
        info.height = static_cast<int>(in.bits(16));
        break;
    case 2: info.width = 352, info.height = 288; break;
    case 3: info.width = 176, info.height = 144; break;
    case 4: info.width = 128, info.height = 96; break;
    case 5: info.width = 320, info.height = 240; break;
    case 6: info.width = 160, info.height = 120; break;
    default:
        error = "Sorenson picture size code reserved";
        return false;
    }
    const uint32_t type = in.bits(2);
    if (type == 3) {
        error = "Sorenson picture type reserved";
        return false;
    }
    info.type = static_cast<SorensonPictureInfo::Type>(type);
    info.deblocking = in.bit();
    info.quantizer = static_cast<int>(in.bits(5));
    // Extra information: bytes behind a continuation flag, meaningless here.
    while (in.ok() && in.bit())
        (void)in.bits(8);
    if (!in.ok()) {
        error = "Sorenson packet shorter than its picture header";
        return false;
    }
    if (info.width == 0 || info.height == 0) {
        error = "Sorenson picture of zero size";
        return false;
    }
    if (info.quantizer == 0) {
        error = "Sorenson picture quantizer 0";
        return false;
    }
    return true;
}

YuvPlanes crop(const SorensonDecoder::Padded& p) {
    YuvPlanes out;
    out.width = p.width;
    out.height = p.height;
    const int cw = out.chromaWidth(), ch = out.chromaHeight();
    const int ls = p.mbCols * 16, cs = p.mbCols * 8;
    out.y.resize(size_t(p.width) * p.height);
    out.u.resize(size_t(cw) * ch);
    out.v.resize(size_t(cw) * ch);
    for (int j = 0; j < p.height; ++j)
        std::memcpy(&out.y[size_t(j) * p.width], &p.y[size_t(j) * ls], size_t(p.width));
    for (int j = 0; j < ch; ++j) {
        std::memcpy(&out.u[size_t(j) * cw], &p.u[size_t(j) * cs], size_t(cw));
        std::memcpy(&out.v[size_t(j) * cw], &p.v[size_t(j) * cs], size_t(cw));
    }
    return out;
}

}  // namespace

bool readSorensonPictureHeader(std::span<const uint8_t> packet, SorensonPictureInfo& info, std::string& error) {
    BitReader in(packet);
    SorensonPictureInfo read;
    if (!readHeader(in, read, error))
        return false;
    info = read;
    return true;
}

bool SorensonDecoder::decode(std::span<const uint8_t> packet, std::string& error, size_t maxPixels) {
    try {
        BitReader in(packet);
        SorensonPictureInfo info;
        if (!readHeader(in, info, error))
            return false;
        if (size_t(info.width) * size_t(info.height) > maxPixels) {
            error = "Sorenson picture of " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                    " larger than allowed";
            return false;
        }
        const bool inter = info.type != SorensonPictureInfo::Type::Intra;
        if (inter && (previous_.y.empty() || previous_.width != info.width || previous_.height != info.height)) {
            error = "Sorenson inter frame without a previous picture of its size";
            return false;
        }
        Padded next;
        next.width = info.width;
        next.height = info.height;
        next.mbCols = (info.width + 15) / 16;
        next.mbRows = (info.height + 15) / 16;
        const size_t lumaSize = size_t(next.mbCols) * 16 * size_t(next.mbRows) * 16;
        next.y.assign(lumaSize, 0);
        next.u.assign(lumaSize / 4, 128);
        next.v.assign(lumaSize / 4, 128);
        std::vector<uint8_t> quantizers, coded;
        PictureDecoder picture(info, in, inter ? &previous_ : nullptr, next, quantizers, coded);
        if (!picture.run(error))
            return false;

        YuvPlanes reconstructed = crop(next);
        YuvPlanes shown = reconstructed;
        if (info.deblocking)
            deblockPlanes(shown, quantizers, coded);
        VideoImage image = yuvToImage(shown);

        previous_ = std::move(next);
        reference_ = std::move(reconstructed);
        shown_ = std::move(shown);
        image_ = std::move(image);
        header_ = info;
        return true;
    } catch (const std::exception& e) {
        error = std::string("Sorenson decoding failed: ") + e.what();
        return false;
    }
}

void SorensonDecoder::reset() {
    previous_ = {};
    reference_ = {};
    shown_ = {};
    image_ = {};
    header_ = {};
}

void deblockPlanes(YuvPlanes& planes, std::span<const uint8_t> quantizers, std::span<const uint8_t> coded) {
    const int mbCols = (planes.width + 15) / 16, mbRows = (planes.height + 15) / 16;
    if (quantizers.size() < size_t(mbCols) * mbRows || coded.size() < size_t(mbCols) * mbRows)
        return;
    // Four samples a b | c d across an edge: b and c move toward each other by
    // a ramp that fades out for steps too large to be blocking, a and d by
    // half as much.
    auto filter = [](uint8_t& a, uint8_t& b, uint8_t& c, uint8_t& d, int strength) {
        const int A = a, B = b, C = c, D = d;
        const int dd = (A - 4 * B + 4 * C - D) / 8;
        const int mag = std::abs(dd);
        const int ramp = std::max(0, mag - std::max(0, 2 * (mag - strength)));
        const int d1 = dd < 0 ? -ramp : ramp;
        const int lim = std::abs(d1 / 2);
        const int d2 = std::clamp((A - D) / 4, -lim, lim);
        b = clip255(B + d1);
        c = clip255(C - d1);
        a = clip255(A - d2);
        d = clip255(D + d2);
    };
    for (int p = 0; p < 3; ++p) {
        const int s = p == 0 ? 1 : 2;  // samples per luma sample, each way
        std::vector<uint8_t>& v = p == 0 ? planes.y : p == 1 ? planes.u : planes.v;
        const int w = p == 0 ? planes.width : planes.chromaWidth();
        const int h = p == 0 ? planes.height : planes.chromaHeight();
        const int mbSize = 16 / s;
        auto mbAt = [&](int x, int y) { return size_t(y / mbSize) * mbCols + size_t(x / mbSize); };
        // Horizontal edges first (filtering down the columns), then vertical ones.
        for (int y = 8; y + 1 < h; y += 8)
            for (int x = 0; x < w; ++x) {
                const size_t above = mbAt(x, y - 1), below = mbAt(x, y);
                if (!coded[above] && !coded[below])
                    continue;
                filter(v[size_t(y - 2) * w + x], v[size_t(y - 1) * w + x], v[size_t(y) * w + x],
                       v[size_t(y + 1) * w + x], kDeblockStrength[std::clamp<int>(quantizers[below], 1, 31)]);
            }
        for (int x = 8; x + 1 < w; x += 8)
            for (int y = 0; y < h; ++y) {
                const size_t left = mbAt(x - 1, y), right = mbAt(x, y);
                if (!coded[left] && !coded[right])
                    continue;
                uint8_t* row = &v[size_t(y) * w];
                filter(row[x - 2], row[x - 1], row[x], row[x + 1],
                       kDeblockStrength[std::clamp<int>(quantizers[right], 1, 31)]);
            }
    }
}

VideoImage yuvToImage(const YuvPlanes& planes) {
    VideoImage image;
    image.width = planes.width;
    image.height = planes.height;
    image.pixels.resize(size_t(planes.width) * planes.height);
    const int cw = planes.chromaWidth();
    // 16.16 fixed point: 255/219 for luma, and the BT.601 chroma weights scaled by 255/224.
    constexpr int kY = 76309, kRv = 104597, kGu = 25675, kGv = 53279, kBu = 132201;
    for (int j = 0; j < planes.height; ++j)
        for (int i = 0; i < planes.width; ++i) {
            const int y = (planes.y[size_t(j) * planes.width + i] - 16) * kY + (1 << 15);
            const size_t c = size_t(j / 2) * cw + size_t(i / 2);
            const int u = planes.u[c] - 128, v = planes.v[c] - 128;
            const uint32_t r = clip255((y + kRv * v) >> 16);
            const uint32_t g = clip255((y - kGu * u - kGv * v) >> 16);
            const uint32_t b = clip255((y + kBu * u) >> 16);
            image.pixels[size_t(j) * planes.width + i] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    return image;
}

}  // namespace refplayer::media
