#include "capture/video_recorder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

// What the mirror's period suggests to encoders that want a rate (76 ms).
constexpr int kNominalFramesPerSecond = 13;
// Each frame lasts until the next one came; the last one a mirror period.
constexpr int64_t kLastFrameDurationMs = 76;

std::string AvText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

class VideoRecorder final : public FrameRecorder {
 public:
  ~VideoRecorder() override {
    (void)Finish();
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_packet_free(&pending_);
    avcodec_free_context(&encoder_);
    if (format_ != nullptr) {
      if (opened_file_) avio_closep(&format_->pb);
      avformat_free_context(format_);
    }
  }

  std::string Open(const std::string& path, VideoCodec codec, int width, int height) {
    path_ = path;
    const char* muxer = codec == VideoCodec::Ffv1 ? "matroska" : "mp4";
    int r = avformat_alloc_output_context2(&format_, nullptr, muxer, path.c_str());
    if (r < 0 || format_ == nullptr) return Fail("no " + std::string(muxer) + " muxer", r);

    const AVCodec* found =
        avcodec_find_encoder(codec == VideoCodec::Ffv1 ? AV_CODEC_ID_FFV1 : AV_CODEC_ID_H264);
    if (found == nullptr) {
      return "this FFmpeg has no " + std::string(codec == VideoCodec::Ffv1 ? "FFV1" : "H.264") +
             " encoder; record to .mkv (FFV1) or to a folder instead";
    }
    stream_ = avformat_new_stream(format_, nullptr);
    encoder_ = avcodec_alloc_context3(found);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    pending_ = av_packet_alloc();
    if (stream_ == nullptr || encoder_ == nullptr || frame_ == nullptr || packet_ == nullptr ||
        pending_ == nullptr) {
      return Fail("out of memory", AVERROR(ENOMEM));
    }
    encoder_->width = width;
    encoder_->height = height;
    encoder_->time_base = AVRational{1, kVideoTimeBaseHz};
    encoder_->framerate = AVRational{kNominalFramesPerSecond, 1};
    // FFV1 keeps RGB as it is (lossless); H.264 players expect 4:2:0.
    encoder_->pix_fmt = codec == VideoCodec::Ffv1 ? AV_PIX_FMT_0RGB32 : AV_PIX_FMT_YUV420P;
    encoder_->max_b_frames = 0;  // packets in presentation order, timestamps as they came
    encoder_->gop_size = kNominalFramesPerSecond;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER)
      encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (codec == VideoCodec::H264) av_opt_set(encoder_->priv_data, "preset", "veryfast", 0);
    if ((r = avcodec_open2(encoder_, found, nullptr)) < 0)
      return Fail("cannot open the encoder", r);
    if ((r = avcodec_parameters_from_context(stream_->codecpar, encoder_)) < 0) {
      return Fail("cannot set the stream", r);
    }
    stream_->time_base = encoder_->time_base;

    frame_->format = encoder_->pix_fmt;
    frame_->width = width;
    frame_->height = height;
    if ((r = av_frame_get_buffer(frame_, 0)) < 0) return Fail("out of memory", r);
    scaler_ = sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, encoder_->pix_fmt,
                             SWS_POINT, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) return Fail("no colour conversion", AVERROR(EINVAL));

    if (!(format_->oformat->flags & AVFMT_NOFILE)) {
      if ((r = avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) {
        return Fail("cannot write", r);
      }
      opened_file_ = true;
    }
    if ((r = avformat_write_header(format_, nullptr)) < 0) return Fail("cannot write", r);
    header_written_ = true;
    return "";
  }

  std::string Add(const RecordedFrame& frame) override {
    if (!header_written_ || finished_) return "the recording is finished";
    const RgbImage& image = *frame.image;
    if (image.width != encoder_->width || image.height != encoder_->height) {
      return "a frame of another size";
    }
    int r = av_frame_make_writable(frame_);
    if (r < 0) return Fail("out of memory", r);
    const uint8_t* source[1] = {image.rgb.data()};
    const int sourceStride[1] = {image.width * 3};
    sws_scale(scaler_, source, sourceStride, 0, image.height, frame_->data, frame_->linesize);
    // Strictly increasing timestamps even if two frames share a millisecond.
    int64_t pts = static_cast<int64_t>(frame.msSinceStart);
    if (pts <= last_pts_) pts = last_pts_ + 1;
    last_pts_ = pts;
    frame_->pts = pts;
    return Encode(frame_);
  }

  std::string Finish() override {
    if (!header_written_ || finished_) return "";
    finished_ = true;
    std::string error = Encode(nullptr);
    if (error.empty()) error = WritePending(kLastFrameDurationMs);
    const int r = av_write_trailer(format_);
    if (error.empty() && r < 0) error = Fail("cannot finish", r);
    if (opened_file_) {
      avio_closep(&format_->pb);
      opened_file_ = false;
    }
    return error;
  }

 private:
  std::string Fail(const std::string& what, int code) {
    return path_ + ": " + what + " (" + AvText(code) + ")";
  }

  // Writes the packet held back, lasting durationMs; nothing when none is held.
  std::string WritePending(int64_t durationMs) {
    if (!has_pending_) return "";
    has_pending_ = false;
    pending_->duration = durationMs > 0 ? durationMs : 1;
    av_packet_rescale_ts(pending_, encoder_->time_base, stream_->time_base);
    pending_->stream_index = stream_->index;
    const int r = av_interleaved_write_frame(format_, pending_);
    av_packet_unref(pending_);
    return r < 0 ? Fail("cannot write", r) : "";
  }

  // Sends a frame (null: the end) and writes every packet the encoder has.
  // Each packet is held back until the next one tells how long it lasts
  // (packets come in presentation order: no B-frames).
  std::string Encode(AVFrame* frame) {
    int r = avcodec_send_frame(encoder_, frame);
    if (r < 0) return Fail("cannot encode", r);
    while ((r = avcodec_receive_packet(encoder_, packet_)) >= 0) {
      const int64_t lasted = has_pending_ ? packet_->pts - pending_->pts : 0;
      std::string error = WritePending(lasted);
      if (!error.empty()) {
        av_packet_unref(packet_);
        return error;
      }
      av_packet_move_ref(pending_, packet_);
      has_pending_ = true;
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) return Fail("cannot encode", r);
    return "";
  }

  std::string path_;
  AVFormatContext* format_ = nullptr;
  AVStream* stream_ = nullptr;
  AVCodecContext* encoder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVPacket* pending_ = nullptr;  // written once the next packet's time is known
  bool has_pending_ = false;
  SwsContext* scaler_ = nullptr;
  bool opened_file_ = false;
  bool header_written_ = false;
  bool finished_ = false;
  int64_t last_pts_ = -1;
};

}  // namespace

std::unique_ptr<FrameRecorder> OpenVideoRecorder(const std::string& path, VideoCodec codec,
                                                 int width, int height, std::string* error) {
  // The libraries' notes (encoder settings, statistics) are not ours to print;
  // their errors come back through the results.
  if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
  auto recorder = std::make_unique<VideoRecorder>();
  *error = recorder->Open(path, codec, width, height);
  if (!error->empty()) return nullptr;
  return recorder;
}
