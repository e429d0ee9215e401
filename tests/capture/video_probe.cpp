#include "tests/capture/video_probe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

struct Opened {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* scaler = nullptr;
  ~Opened() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

void TakeFrames(Opened& o, AVStream* stream, ProbedVideo& video) {
  while (avcodec_receive_frame(o.decoder, o.frame) >= 0) {
    video.ptsMs.push_back(
        av_rescale_q(o.frame->best_effort_timestamp, stream->time_base, {1, 1000}));
    RgbImage image = MakeImage(o.frame->width, o.frame->height);
    o.scaler = sws_getCachedContext(
        o.scaler, o.frame->width, o.frame->height, static_cast<AVPixelFormat>(o.frame->format),
        image.width, image.height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t* planes[1] = {image.rgb.data()};
    const int strides[1] = {image.width * 3};
    sws_scale(o.scaler, o.frame->data, o.frame->linesize, 0, o.frame->height, planes, strides);
    video.frames.push_back(std::move(image));
  }
}

}  // namespace

ProbedVideo ProbeVideo(const std::string& path) {
  ProbedVideo video;
  Opened o;
  if (avformat_open_input(&o.format, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(o.format, nullptr) < 0) {
    video.error = "cannot open " + path;
    return video;
  }
  const int index = av_find_best_stream(o.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) {
    video.error = "no video stream";
    return video;
  }
  AVStream* stream = o.format->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  o.decoder = avcodec_alloc_context3(codec);
  if (codec == nullptr || avcodec_parameters_to_context(o.decoder, stream->codecpar) < 0 ||
      avcodec_open2(o.decoder, codec, nullptr) < 0) {
    video.error = "no decoder";
    return video;
  }
  video.codec = codec->name;
  while (av_read_frame(o.format, o.packet) >= 0) {
    if (o.packet->stream_index == index) avcodec_send_packet(o.decoder, o.packet);
    av_packet_unref(o.packet);
    TakeFrames(o, stream, video);
  }
  avcodec_send_packet(o.decoder, nullptr);
  TakeFrames(o, stream, video);
  return video;
}
