// refplay's command line: argument parsing, file access and error reporting.
#include "refplay.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace refplayer::tool {

namespace {

constexpr const char* kUsage =
    "usage: refplay info <file.swf|file.flv>\n"
    "       refplay render <file.swf> <out.png> [--frames N] [--size WxH] [--transparent]\n"
    "       refplay render <file.flv> <out.png> --time SECONDS [--size WxH]\n";

// A wrong command line (exit code 2), as opposed to a bad file (1).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int parseInt(std::string_view text, const char* what)
{
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw UsageError(std::string(what) + " wants a whole number, not \"" + std::string(text) + "\"");
    return value;
}

double parseSeconds(std::string_view text)
{
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 1e9)
        throw UsageError("--time wants a number of seconds, 0 or more, not \"" + std::string(text) + "\"");
    return value;
}

struct RenderCommand {
    std::string input, output;
    RenderOptions options;
    std::optional<double> seconds;
};

RenderCommand parseRender(const std::vector<std::string>& args)
{
    RenderCommand cmd;
    std::vector<std::string> positional;
    bool framesGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> value;
        if (arg.rfind("--", 0) == 0) {
            if (auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
            }
        } else {
            positional.push_back(arg);
            continue;
        }
        auto needValue = [&]() -> std::string {
            if (value)
                return *value;
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--frames") {
            cmd.options.frames = parseInt(needValue(), "--frames");
            if (cmd.options.frames < 0 || cmd.options.frames > kMaxFrameTicks)
                throw UsageError("--frames must lie between 0 and " + std::to_string(kMaxFrameTicks));
            framesGiven = true;
        } else if (arg == "--size") {
            const std::string size = needValue();
            const auto x = size.find_first_of("xX");
            if (x == std::string::npos)
                throw UsageError("--size wants WIDTHxHEIGHT, not \"" + size + "\"");
            cmd.options.width = parseInt(std::string_view(size).substr(0, x), "--size");
            cmd.options.height = parseInt(std::string_view(size).substr(x + 1), "--size");
            if (*cmd.options.width <= 0 || *cmd.options.height <= 0)
                throw UsageError("--size wants a width and a height above 0");
        } else if (arg == "--transparent" && !value) {
            cmd.options.transparent = true;
        } else if (arg == "--time") {
            cmd.seconds = parseSeconds(needValue());
        } else {
            throw UsageError("unknown option " + args[i]);
        }
    }
    if (positional.size() != 2)
        throw UsageError("render wants an input file and an output file");
    cmd.input = positional[0];
    cmd.output = positional[1];
    if (framesGiven && cmd.seconds)
        throw UsageError("--frames is for SWF files and --time for FLV files; give one");
    return cmd;
}

int info(const std::vector<std::string>& args, std::ostream& out)
{
    if (args.size() != 2)
        throw UsageError("info wants exactly one file");
    const std::vector<uint8_t> file = readFile(args[1]);
    try {
        out << (detectKind(file) == FileKind::Swf ? swfInfoJson(file) : flvInfoJson(file));
    } catch (const ToolError& e) {
        throw ToolError(args[1] + ": " + e.what());
    }
    out.flush();
    if (!out)
        throw ToolError("cannot write the report");
    return 0;
}

int render(const std::vector<std::string>& args)
{
    const RenderCommand cmd = parseRender(args);
    const std::vector<uint8_t> file = readFile(cmd.input);
    std::vector<uint8_t> png;
    try {
        const FileKind kind = detectKind(file);
        if (kind == FileKind::Swf && cmd.seconds)
            throw UsageError("--time is for FLV files; a SWF frame is chosen with --frames");
        if (kind == FileKind::Flv && !cmd.seconds)
            throw UsageError("an FLV frame is chosen by time: give --time SECONDS");
        const Image image = kind == FileKind::Swf ? renderSwf(file, cmd.options) : renderFlv(file, *cmd.seconds, cmd.options);
        png = encodePng(image);
    } catch (const ToolError& e) {
        throw ToolError(cmd.input + ": " + e.what());
    }
    // Written only once the picture exists: a failed render leaves the output as it was.
    writeFile(cmd.output, png);
    return 0;
}

}  // namespace

std::vector<uint8_t> readFile(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p(path);
    if (std::filesystem::is_directory(p, ec))
        throw ToolError(path + ": is a directory");
    std::ifstream in(p, std::ios::binary);
    if (!in)
        throw ToolError(path + ": cannot open (" + std::strerror(errno) + ")");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        throw ToolError(path + ": cannot tell the file's size");
    if (static_cast<uint64_t>(size) > kMaxInputBytes)
        throw ToolError(path + ": " + std::to_string(size) + " bytes, more than the " +
                        std::to_string(kMaxInputBytes) + " refplay reads");
    in.seekg(0);
    std::vector<uint8_t> data(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(data.data()), size))
        throw ToolError(path + ": read failed");
    return data;
}

void writeFile(const std::string& path, std::span<const uint8_t> data)
{
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    if (!out)
        throw ToolError(path + ": cannot create (" + std::strerror(errno) + ")");
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out)
        throw ToolError(path + ": write failed");
}

FileKind detectKind(std::span<const uint8_t> file)
{
    auto starts = [&](const char* sig) { return file.size() >= 3 && std::memcmp(file.data(), sig, 3) == 0; };
    if (starts("FWS") || starts("CWS"))
        return FileKind::Swf;
    if (starts("FLV"))
        return FileKind::Flv;
    if (starts("ZWS"))
        throw ToolError("LZMA-compressed SWF (\"ZWS\") is not supported");
    throw ToolError(file.size() < 3 ? "too short to be a SWF or FLV file" : "not a SWF or FLV file (unknown signature)");
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) noexcept
{
    try {
        try {
            if (args.empty())
                throw UsageError("no command given");
            const std::string& command = args[0];
            if (command == "--help" || command == "-h" || command == "help") {
                out << kUsage;
                return 0;
            }
            if (command == "info")
                return info(args, out);
            if (command == "render")
                return render(args);
            throw UsageError("unknown command \"" + command + "\"");
        } catch (const UsageError& e) {
            err << "refplay: " << e.what() << " (refplay --help shows the usage)\n";
            return 2;
        } catch (const ToolError& e) {
            err << "refplay: " << e.what() << '\n';
        } catch (const std::bad_alloc&) {
            err << "refplay: out of memory\n";
        } catch (const std::exception& e) {
            err << "refplay: internal error: " << e.what() << '\n';
        }
    } catch (...) {
        // Writing the message itself failed; the exit code still tells.
    }
    return 1;
}

}  // namespace refplayer::tool
