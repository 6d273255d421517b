#include "support/MediaFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace fixtures {

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(int fd)
{
    std::string text;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, std::size_t(n));
    return text;
}

// Runs a program found on PATH with stdin closed, collecting its output
// (the error output through a file, so neither pipe can fill up and stall).
Outcome run(const std::vector<std::string>& argv)
{
    int outPipe[2];
    FILE* errFile = std::tmpfile();
    if (!errFile || pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    // Everything the child needs is made before the fork: in a process with
    // other threads, the child may not allocate (another thread could have
    // held the allocator's lock at the fork, and the child would wait forever).
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(fileno(errFile), 2);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (devNull >= 0) close(devNull);
    close(outPipe[1]);
    Outcome result;
    result.out = readAll(outPipe[0]);
    close(outPipe[0]);
    waitpid(pid, &result.status, 0);
    lseek(fileno(errFile), 0, SEEK_SET);
    result.err = readAll(fileno(errFile));
    std::fclose(errFile);
    return result;
}

std::string joined(const std::vector<std::string>& args)
{
    std::string s;
    for (const auto& a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

std::string hexColour(unsigned rgb)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", rgb & 0xFFFFFF);
    return buf;
}

} // namespace

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ondexa-media-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void runFfmpeg(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    const Outcome r = run(argv);
    if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0)
        throw std::runtime_error("ffmpeg failed: " + joined(args) + "\n" + r.err);
}

std::string runFfprobe(const std::vector<std::string>& args, const std::filesystem::path& file)
{
    std::vector<std::string> argv{"ffprobe", "-hide_banner", "-v", "error"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(file.string());
    const Outcome r = run(argv);
    if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0)
        throw std::runtime_error("ffprobe failed: " + joined(argv) + "\n" + r.err);
    return r.out;
}

std::filesystem::path makeNumberedVideo(const std::filesystem::path& file, const NumberedVideo& video)
{
    std::ostringstream graph;
    graph << "color=c=" << hexColour(video.rgb) << ":s=" << video.width << "x" << video.height << ":r=" << video.fps
          << ",format=rgb24";
    for (int b = 0; b < 9; ++b)
        graph << ",drawbox=x=" << b << "*iw/10:y=0:w=iw/10:h=ih/2:color=white:t=fill:enable='bitand(n\\," << (1 << b)
              << ")'";
    const bool bt709 = video.matrix == "bt709";
    const std::string matrix = bt709 ? "bt709" : "smpte170m";
    std::vector<std::string> args{"-f", "lavfi", "-i", graph.str(), "-frames:v", std::to_string(video.frames),
                                  "-vf", "scale=out_color_matrix=" + std::string(bt709 ? "bt709" : "bt601") +
                                             ":out_range=tv,format=yuv420p",
                                  "-colorspace", matrix, "-color_primaries", bt709 ? "bt709" : "smpte170m",
                                  "-color_trc", bt709 ? "bt709" : "smpte170m", "-color_range", "tv",
                                  "-c:v", "libx264", "-crf", "12", "-g", "30"};
    args.insert(args.end(), video.extra.begin(), video.extra.end());
    args.push_back(file.string());
    runFfmpeg(args);
    return file;
}

std::filesystem::path makeStereoSine(const std::filesystem::path& file, double seconds, int rate,
                                     const std::vector<std::string>& extra)
{
    std::ostringstream src;
    src << "aevalsrc=0.5*sin(2*PI*440*t)|0.25*sin(2*PI*660*t):s=" << rate << ":d=" << seconds << ":c=stereo";
    std::vector<std::string> args{"-f", "lavfi", "-i", src.str()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file.string());
    runFfmpeg(args);
    return file;
}

std::filesystem::path makePicture(const std::filesystem::path& file, int width, int height, unsigned rgb)
{
    runFfmpeg({"-f", "lavfi", "-i",
               "color=c=" + hexColour(rgb) + ":s=" + std::to_string(width) + "x" + std::to_string(height),
               "-frames:v", "1", file.string()});
    return file;
}

std::filesystem::path copyShownAs(const std::filesystem::path& from, const std::filesystem::path& to, int clockwise,
                                  bool mirrored)
{
    auto check = [&](int rc, const char* what) {
        if (rc < 0) throw std::runtime_error(std::string(what) + " failed for " + to.string());
    };
    AVFormatContext* in = nullptr;
    check(avformat_open_input(&in, from.c_str(), nullptr, nullptr), "opening");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> inGuard(in, [](AVFormatContext* f) {
        avformat_close_input(&f);
    });
    check(avformat_find_stream_info(in, nullptr), "probing");
    AVFormatContext* out = nullptr;
    check(avformat_alloc_output_context2(&out, nullptr, nullptr, to.c_str()), "choosing the container");
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> outGuard(out, [](AVFormatContext* f) {
        avio_closep(&f->pb);
        avformat_free_context(f);
    });
    // The matrix's upper 2 × 2 block with y pointing down: the mirror
    // (its first row negated), then the clockwise turn.
    const double angle = clockwise * std::acos(-1.0) / 180.0;
    const double c = std::round(std::cos(angle)), s = std::round(std::sin(angle));
    const double flip = mirrored ? -1.0 : 1.0;
    const double block[4] = {flip * c, flip * s, -s, c};
    bool marked = false;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* st = avformat_new_stream(out, nullptr);
        if (!st) throw std::bad_alloc();
        check(avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar), "copying parameters");
        st->codecpar->codec_tag = 0;
        st->time_base = in->streams[i]->time_base;
        if (marked || st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        auto* m = reinterpret_cast<std::int32_t*>(
            av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
        if (!m) throw std::bad_alloc();
        std::fill(m, m + 9, 0);
        m[0] = std::int32_t(block[0] * 65536);
        m[1] = std::int32_t(block[1] * 65536);
        m[3] = std::int32_t(block[2] * 65536);
        m[4] = std::int32_t(block[3] * 65536);
        m[8] = 1 << 30;
        marked = true;
    }
    check(avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE), "creating");
    check(avformat_write_header(out, nullptr), "writing the header");
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(in, packet) >= 0) {
        av_packet_rescale_ts(packet, in->streams[packet->stream_index]->time_base,
                             out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        const int rc = av_interleaved_write_frame(out, packet);
        if (rc < 0) av_packet_free(&packet);
        check(rc, "copying a packet");
    }
    av_packet_free(&packet);
    check(av_write_trailer(out), "finishing");
    return to;
}

double MovieStream::rms(double from, double to) const
{
    const auto a = std::size_t(std::max(0.0, (from - soundStart) * sampleRate));
    const auto b = std::min(left.size(), std::size_t(std::max(0.0, (to - soundStart) * sampleRate)));
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(left[i]) * left[i];
    return b > a ? std::sqrt(sum / double(b - a)) : -1;
}

namespace {

void decodeInto(AVCodecContext* decoder, const AVStream* st, AVFrame* frame, MovieStream& info)
{
    while (avcodec_receive_frame(decoder, frame) == 0) {
        if (!info.video) {
            if (info.left.empty()) info.soundStart = double(frame->pts) * av_q2d(st->time_base);
            const auto* l = reinterpret_cast<const float*>(frame->data[0]);
            const auto* r = reinterpret_cast<const float*>(frame->data[frame->ch_layout.nb_channels > 1 ? 1 : 0]);
            info.left.insert(info.left.end(), l, l + frame->nb_samples);
            info.right.insert(info.right.end(), r, r + frame->nb_samples);
        } else if (info.firstPicture.empty() && frame->format == AV_PIX_FMT_YUV420P) {
            info.firstPicture.resize(std::size_t(frame->width) * std::size_t(frame->height) * 3);
            for (int y = 0; y < frame->height; ++y)
                for (int x = 0; x < frame->width; ++x) {
                    const double Y = (frame->data[0][y * frame->linesize[0] + x] - 16) / 219.0;
                    const double U = (frame->data[1][(y / 2) * frame->linesize[1] + x / 2] - 128) / 224.0;
                    const double V = (frame->data[2][(y / 2) * frame->linesize[2] + x / 2] - 128) / 224.0;
                    const double rgb[3] = {Y + 1.5748 * V, Y - 0.1873 * U - 0.4681 * V, Y + 1.8556 * U};
                    for (int c = 0; c < 3; ++c)
                        info.firstPicture[(std::size_t(y) * std::size_t(frame->width) + std::size_t(x)) * 3 + std::size_t(c)] =
                            std::uint8_t(std::clamp(rgb[c] * 255 + 0.5, 0.0, 255.0));
                }
        }
    }
}

} // namespace

std::vector<MovieStream> readMovie(const std::filesystem::path& file)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + file.string());
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatGuard(format, [](AVFormatContext* f) {
        avformat_close_input(&f);
    });
    avformat_find_stream_info(format, nullptr);
    std::vector<MovieStream> streams;
    std::vector<AVCodecContext*> decoders;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        MovieStream info;
        info.video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        info.codec = avcodec_get_name(par->codec_id);
        info.width = par->width;
        info.height = par->height;
        info.sampleRate = par->sample_rate;
        info.channels = par->ch_layout.nb_channels;
        info.bitRate = par->bit_rate;
        if (const AVStream* st = format->streams[i]; st->duration != AV_NOPTS_VALUE && st->duration > 0)
            info.statedDuration = double(st->duration) * av_q2d(st->time_base);
        if (const AVDictionaryEntry* e = av_dict_get(format->streams[i]->metadata, "handler_name", nullptr, 0))
            info.handlerName = e->value;
        streams.push_back(info);
        AVCodecContext* decoder = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
        avcodec_parameters_to_context(decoder, par);
        if (avcodec_open2(decoder, nullptr, nullptr) < 0) avcodec_free_context(&decoder);
        decoders.push_back(decoder);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (av_read_frame(format, packet) >= 0) {
        const auto i = std::size_t(packet->stream_index);
        MovieStream& info = streams[i];
        const AVStream* st = format->streams[i];
        const double tb = av_q2d(st->time_base);
        if (info.firstPacket.empty())
            info.firstPacket.assign(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size));
        info.packets.push_back({double(packet->pts) * tb, double(packet->dts) * tb, (packet->flags & AV_PKT_FLAG_KEY) != 0});
        info.start = std::min(info.start, double(packet->pts) * tb);
        info.end = std::max(info.end, double(packet->pts + packet->duration) * tb);
        if (decoders[i] && avcodec_send_packet(decoders[i], packet) >= 0) decodeInto(decoders[i], st, frame, info);
        av_packet_unref(packet);
    }
    for (std::size_t i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i], nullptr);
        decodeInto(decoders[i], format->streams[i], frame, streams[i]);
        avcodec_free_context(&decoders[i]);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return streams;
}

int openCount(const std::filesystem::path& file)
{
    const auto target = std::filesystem::canonical(file);
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) == target) ++n;
    }
    return n;
}

} // namespace fixtures
