#include "kvrender_core.h"

#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace kvrender {

namespace {

constexpr const wchar_t kUsage[] =
    L"usage: kvrender MOVIE [--frames N | --seconds S] [--size WxH] [--transparent]\n"
    L"                [--plugin default|netscape|activex] [--out DIR] [--every K] [--goto]\n"
    L"                [--var name=value ...]\n"
    L"\n"
    L"Plays MOVIE (a SWF file) through the installed Flash Player, off screen, and writes\n"
    L"its frames as PNG files DIR\\<movie>-NNNNN.png (NNNNN: the frame number, from 0).\n"
    L"\n"
    L"  --frames N      frames to play (default: the movie's frame count)\n"
    L"  --seconds S     play S seconds: S times the movie's frame rate, rounded up\n"
    L"  --size WxH      picture size (default: the movie's stage); at most 8192 on a\n"
    L"                  side and 16777216 pixels; the stage is scaled to fit\n"
    L"  --transparent   no stage background: PNGs with straight alpha where the movie\n"
    L"                  leaves the picture uncovered (default: opaque, over the\n"
    L"                  movie's background colour)\n"
    L"  --plugin P      the player: default (either, the ActiveX control first),\n"
    L"                  netscape (the plug-in library) or activex (the control)\n"
    L"  --out DIR       folder for the PNG files (default: the current folder;\n"
    L"                  made when missing)\n"
    L"  --every K       write only every K-th frame (0, K, 2K...); default 1\n"
    L"  --var n=v       set the movie variable n to v before the first frame is\n"
    L"                  taken; may be repeated\n"
    L"  --goto          deterministic frames (see below)\n"
    L"  --help          this text\n"
    L"\n"
    L"Frames. By default the movie plays in real time at its own rate, scripts and\n"
    L"all, and frame k is the picture taken k frame periods after the movie arrived\n"
    L"(in the middle of that period). With --goto the player is stopped and sent to\n"
    L"each frame in turn (the frame control, SetCurrentFrame), and frame k is the\n"
    L"picture once it has painted frame k: the same on every run, for movies whose\n"
    L"frames do not depend on script.\n"
    L"\n"
    L"Exit status: 0 done; 2 bad input (command line, movie, folder, no player),\n"
    L"nothing written; 1 a failure while rendering (files written so far are\n"
    L"complete; none is left half written).\n";

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c <= 0 || c > 0x7E)
            return std::string();  // not a number, whatever else it is
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::string Quoted(const std::wstring& text)
{
    // The message is narrow text for the console; characters beyond ASCII show as '?'.
    std::string out = "\"";
    for (wchar_t c : text)
        out.push_back(c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '?');
    return out + "\"";
}

int ParseInt(const std::wstring& text, const char* option)
{
    const std::string s = Narrow(text);
    int value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        throw UsageError(std::string(option) + " wants a whole number, not " + Quoted(text));
    return value;
}

double ParseSeconds(const std::wstring& text)
{
    const std::string s = Narrow(text);
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value) || value <= 0 ||
        value > 1e7)
        throw UsageError("--seconds wants a number of seconds above 0, not " + Quoted(text));
    return value;
}

// A little-endian reader over the movie's bytes; running past the end is a
// header cut short.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    std::size_t Left() const { return data_.size() - pos_; }
    std::uint8_t U8()
    {
        Need(1);
        return data_[pos_++];
    }
    std::uint16_t U16()
    {
        Need(2);
        const std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    std::uint32_t U32()
    {
        const std::uint32_t lo = U16();
        return lo | static_cast<std::uint32_t>(U16()) << 16;
    }
    void Skip(std::size_t n)
    {
        Need(n);
        pos_ += n;
    }
    // Reads `bits` bits, most significant first, from the current byte on.
    std::uint32_t Bits(int bits)
    {
        std::uint32_t v = 0;
        for (int i = 0; i < bits; ++i) {
            if (bitPos_ == 0) {
                Need(1);
                bitByte_ = data_[pos_++];
                bitPos_ = 8;
            }
            --bitPos_;
            v = v << 1 | ((bitByte_ >> bitPos_) & 1u);
        }
        return v;
    }
    std::int32_t SignedBits(int bits)
    {
        if (bits == 0)
            return 0;
        const std::uint32_t v = Bits(bits);
        const std::uint32_t sign = 1u << (bits - 1);
        return static_cast<std::int32_t>((v ^ sign) - sign);
    }
    void AlignToByte() { bitPos_ = 0; }

private:
    void Need(std::size_t n)
    {
        if (Left() < n)
            throw InputError("not a Flash movie: its header is cut short");
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    std::uint8_t bitByte_ = 0;
    int bitPos_ = 0;
};

// The bytes after the 8-byte file header of a "CWS" movie, inflated up to the
// length the header gives. A stream cut short gives what it holds: the
// player decides what to make of the rest.
std::vector<std::uint8_t> Inflate(std::span<const std::uint8_t> compressed, std::uint32_t length)
{
    // The file length counts the 8-byte header too.
    const std::size_t want = length > 8 ? length - 8 : 0;
    // A movie says how long it is; no player takes in more than this.
    constexpr std::size_t kLimit = std::size_t(256) << 20;
    if (want > kLimit)
        throw InputError("not a Flash movie this tool reads: it claims " + std::to_string(length) + " bytes");
    std::vector<std::uint8_t> out(want);
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        throw InputError("cannot start the decompressor");
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = out.empty() ? Z_STREAM_END : inflate(&z, Z_FINISH);
    const std::size_t got = out.size() - z.avail_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END && rc != Z_OK && rc != Z_BUF_ERROR)
        throw InputError("not a Flash movie: its compressed body is damaged");
    out.resize(got);
    return out;
}

}  // namespace

const wchar_t* UsageText() { return kUsage; }

Options ParseCommandLine(const std::vector<std::wstring>& args)
{
    Options o;
    bool movieGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::wstring arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            if (movieGiven)
                throw UsageError("one movie at a time: " + Quoted(o.movie) + " and " + Quoted(arg));
            if (arg.empty())
                throw UsageError("the movie's name is empty");
            o.movie = arg;
            movieGiven = true;
            continue;
        }
        std::optional<std::wstring> value;
        if (const auto eq = arg.find(L'='); eq != std::wstring::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const std::string name = Narrow(arg);
        auto needValue = [&]() -> std::wstring {
            if (value)
                return *value;
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (value)
                throw UsageError(name + " takes no value");
        };
        if (name == "--help") {
            flag();
            o.help = true;
        } else if (name == "--frames") {
            o.frames = ParseInt(needValue(), "--frames");
            if (*o.frames < 1 || *o.frames > kMaxFrames)
                throw UsageError("--frames must lie between 1 and " + std::to_string(kMaxFrames));
        } else if (name == "--seconds") {
            o.seconds = ParseSeconds(needValue());
        } else if (name == "--size") {
            const std::wstring size = needValue();
            const auto x = size.find_first_of(L"xX");
            if (x == std::wstring::npos)
                throw UsageError("--size wants WIDTHxHEIGHT, not " + Quoted(size));
            const int w = ParseInt(size.substr(0, x), "--size");
            const int h = ParseInt(size.substr(x + 1), "--size");
            try {
                CheckPictureSize(w, h);
            } catch (const InputError& e) {
                throw UsageError(std::string("--size: ") + e.what());
            }
            o.width = w;
            o.height = h;
        } else if (name == "--transparent") {
            flag();
            o.transparent = true;
        } else if (name == "--plugin") {
            const std::wstring p = needValue();
            if (p == L"default")
                o.plugin = Backend::Default;
            else if (p == L"netscape")
                o.plugin = Backend::Netscape;
            else if (p == L"activex")
                o.plugin = Backend::ActiveX;
            else
                throw UsageError("--plugin takes default, netscape or activex, not " + Quoted(p));
        } else if (name == "--out") {
            o.outDir = needValue();
            if (o.outDir.empty())
                throw UsageError("--out wants a folder");
        } else if (name == "--every") {
            o.every = ParseInt(needValue(), "--every");
            if (o.every < 1 || o.every > kMaxFrames)
                throw UsageError("--every must lie between 1 and " + std::to_string(kMaxFrames));
        } else if (name == "--goto") {
            flag();
            o.gotoFrames = true;
        } else if (name == "--var") {
            const std::wstring nv = needValue();
            const auto eq = nv.find(L'=');
            if (eq == std::wstring::npos || eq == 0)
                throw UsageError("--var wants name=value, not " + Quoted(nv));
            o.vars.emplace_back(nv.substr(0, eq), nv.substr(eq + 1));
        } else {
            throw UsageError("unknown option " + Quoted(args[i]));
        }
    }
    if (o.help)
        return o;
    if (!movieGiven)
        throw UsageError("no movie given");
    if (o.frames && o.seconds)
        throw UsageError("give --frames or --seconds, not both");
    return o;
}

void CheckPictureSize(int width, int height)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
        std::int64_t(width) * height > kMaxPixels)
        throw InputError("a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                         " pixels is beyond the player's limits (1 to " + std::to_string(kMaxSide) +
                         " on a side, at most " + std::to_string(kMaxPixels) + " pixels)");
}

MovieFacts ReadMovieFacts(std::span<const std::uint8_t> file)
{
    auto starts = [&](const char* sig) { return file.size() >= 3 && std::memcmp(file.data(), sig, 3) == 0; };
    if (starts("FLV"))
        throw InputError("an FLV video, not a Flash movie: give a SWF file");
    if (starts("ZWS"))
        throw InputError("an LZMA-compressed movie (\"ZWS\"), which this tool does not read");
    if (!starts("FWS") && !starts("CWS"))
        throw InputError(file.size() < 3 ? "not a Flash movie: too short" : "not a Flash movie (no SWF signature)");
    if (file.size() < 8)
        throw InputError("not a Flash movie: its header is cut short");
    MovieFacts facts;
    facts.version = file[3];
    const std::uint32_t length =
        file[4] | std::uint32_t(file[5]) << 8 | std::uint32_t(file[6]) << 16 | std::uint32_t(file[7]) << 24;
    std::vector<std::uint8_t> inflated;
    std::span<const std::uint8_t> body = file.subspan(8);
    if (starts("CWS")) {
        inflated = Inflate(body, length);
        body = inflated;
    }

    Reader r(body);
    const int bits = static_cast<int>(r.Bits(5));
    const std::int32_t xMin = r.SignedBits(bits), xMax = r.SignedBits(bits);
    const std::int32_t yMin = r.SignedBits(bits), yMax = r.SignedBits(bits);
    r.AlignToByte();
    const std::uint16_t rate = r.U16();
    facts.frameCount = r.U16();
    facts.stageWidth = static_cast<int>((std::int64_t(xMax) - xMin) / 20);
    facts.stageHeight = static_cast<int>((std::int64_t(yMax) - yMin) / 20);
    facts.frameRate = rate ? rate / 256.0 : 1.0 / 256.0;

    // The first SetBackgroundColor, if the tags up to the end say one. A tag
    // that overruns the file ends the search: the player judges the damage.
    try {
        while (r.Left() >= 2) {
            const std::uint16_t header = r.U16();
            const int code = header >> 6;
            std::uint32_t size = header & 0x3F;
            if (size == 0x3F)
                size = r.U32();
            if (code == 0)
                break;
            if (code == 9 && size >= 3) {
                const std::uint32_t red = r.U8(), green = r.U8(), blue = r.U8();
                facts.background = 0xFF000000u | red << 16 | green << 8 | blue;
                break;
            }
            r.Skip(size);
        }
    } catch (const InputError&) {
    }
    return facts;
}

FramePlan PlanFrames(const Options& options, const MovieFacts& movie)
{
    FramePlan plan;
    plan.every = options.every;
    if (options.frames) {
        plan.count = *options.frames;
    } else if (options.seconds) {
        const double frames = std::ceil(*options.seconds * movie.frameRate - 1e-9);
        if (!(frames <= kMaxFrames))
            throw InputError("--seconds asks for more than " + std::to_string(kMaxFrames) + " frames at the movie's rate");
        plan.count = frames < 1 ? 1 : static_cast<int>(frames);
    } else {
        plan.count = movie.frameCount;
        if (plan.count < 1)
            throw InputError("the movie says it has no frames: give --frames or --seconds");
    }
    if (options.gotoFrames && plan.count > movie.frameCount)
        throw InputError("--goto can visit the movie's " + std::to_string(movie.frameCount) + " frames only, not " +
                         std::to_string(plan.count));
    return plan;
}

double CaptureTime(int frame, double frameRate) { return (frame + 0.5) / frameRate; }

std::wstring FrameFileName(const std::wstring& stem, int frame)
{
    std::wstring digits = std::to_wstring(frame);
    if (digits.size() < 5)
        digits.insert(0, 5 - digits.size(), L'0');
    return stem + L"-" + digits + L".png";
}

void ToStraightBgra(std::span<const std::uint32_t> premultiplied, std::uint8_t* out)
{
    for (const std::uint32_t p : premultiplied) {
        const std::uint32_t a = p >> 24;
        std::uint32_t c[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};  // blue, green, red
        for (std::uint32_t& v : c) {
            if (a == 0)
                v = 0;
            else if (a < 255)
                v = v >= a ? 255 : (v * 255 + a / 2) / a;
            *out++ = static_cast<std::uint8_t>(v);
        }
        *out++ = static_cast<std::uint8_t>(a);
    }
}

void ToOpaqueBgr(std::span<const std::uint32_t> premultiplied, std::uint32_t background, std::uint8_t* out)
{
    const std::uint32_t bg[3] = {background & 0xFF, (background >> 8) & 0xFF, (background >> 16) & 0xFF};
    for (const std::uint32_t p : premultiplied) {
        const std::uint32_t rest = 255 - (p >> 24);
        const std::uint32_t c[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t v = c[i] + (bg[i] * rest + 127) / 255;
            *out++ = static_cast<std::uint8_t>(v > 255 ? 255 : v);
        }
    }
}

}  // namespace kvrender
