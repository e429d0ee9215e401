#include "platform/sound_server.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// How the program and its sound are named to the server, and what kind of
// sound it is (a desktop files "event" sounds with the notifications, not
// with the music).
constexpr const char* kClientName = "Tessaro_App";
constexpr const char* kSoundName = "Tessaro_App-beep";
constexpr const char* kSoundRole = "event";

struct MainloopFree {
  void operator()(pa_mainloop* loop) const { pa_mainloop_free(loop); }
};
struct ContextClose {
  void operator()(pa_context* context) const {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
};
struct StreamClose {
  void operator()(pa_stream* stream) const {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
    pa_stream_unref(stream);
  }
};
struct ProplistFree {
  void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
struct OperationUnref {
  void operator()(pa_operation* operation) const {
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
  }
};

// Runs the main loop until settled() says so or deadline passes; false when
// the deadline came first or the loop failed.
template <typename Settled>
bool RunUntil(pa_mainloop* loop, Clock::time_point deadline, Settled settled) {
  while (!settled()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int timeoutUs = static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX));
    if (pa_mainloop_prepare(loop, timeoutUs) < 0) return false;
    if (pa_mainloop_poll(loop) < 0) return false;
    if (pa_mainloop_dispatch(loop) < 0) return false;
  }
  return true;
}

bool ContextSettled(pa_context* context) {
  return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
         pa_context_get_state(context) == PA_CONTEXT_READY;
}

bool StreamSettled(pa_stream* stream) {
  return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) ||
         pa_stream_get_state(stream) == PA_STREAM_READY;
}

// Connects to the server the environment names; null when none answered by
// the deadline.
std::unique_ptr<pa_context, ContextClose> ConnectToServer(pa_mainloop* loop,
                                                          Clock::time_point connectBy) {
  std::unique_ptr<pa_context, ContextClose> context(
      pa_context_new(pa_mainloop_get_api(loop), kClientName));
  if (!context) return nullptr;
  if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return nullptr;
  }
  if (!RunUntil(loop, connectBy, [&] { return ContextSettled(context.get()); }) ||
      pa_context_get_state(context.get()) != PA_CONTEXT_READY) {
    return nullptr;
  }
  return context;
}

// The samples as an entry of the server's sample cache named name; false
// when the server did not take them (in time).
bool UploadSample(pa_mainloop* loop, pa_context* context, const std::string& name,
                  const std::vector<int16_t>& samples, uint32_t sampleRate,
                  Clock::time_point connectBy, Clock::time_point doneBy) {
  const pa_sample_spec spec{PA_SAMPLE_S16LE, sampleRate, 1};
  const size_t bytes = samples.size() * sizeof(int16_t);
  std::unique_ptr<pa_proplist, ProplistFree> properties(pa_proplist_new());
  pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, kSoundRole);
  std::unique_ptr<pa_stream, StreamClose> upload(
      pa_stream_new_with_proplist(context, name.c_str(), &spec, nullptr, properties.get()));
  if (!upload || pa_stream_connect_upload(upload.get(), bytes) < 0) return false;
  if (!RunUntil(loop, connectBy, [&] { return StreamSettled(upload.get()); }) ||
      pa_stream_get_state(upload.get()) != PA_STREAM_READY) {
    return false;
  }
  if (pa_stream_write(upload.get(), samples.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0 ||
      pa_stream_finish_upload(upload.get()) < 0) {
    return false;
  }
  // The server ends an upload stream once the sample is in its cache.
  return RunUntil(loop, doneBy,
                  [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(upload.get())); }) &&
         pa_stream_get_state(upload.get()) == PA_STREAM_TERMINATED;
}

void NoteSuccess(pa_context* /*context*/, int success, void* userdata) {
  *static_cast<int*>(userdata) = success ? 1 : 0;
}

void NotePlaying(pa_context* /*context*/, uint32_t index, void* userdata) {
  *static_cast<int*>(userdata) = index != PA_INVALID_INDEX ? 1 : 0;
}

// Waits for an operation whose callback sets *answer to 1 or 0; -1 when it
// did not come by the deadline.
int AwaitAnswer(pa_mainloop* loop, pa_operation* started, int& answer, Clock::time_point deadline) {
  if (started == nullptr) return 0;
  std::unique_ptr<pa_operation, OperationUnref> operation(started);
  RunUntil(loop, deadline, [&] { return answer != -1; });
  return answer;
}

}  // namespace

SoundOutcome PlayOnSoundServer(const std::vector<int16_t>& samples, uint32_t sampleRate,
                               Clock::time_point connectBy, Clock::time_point doneBy) {
  if (samples.empty()) return SoundOutcome::Played;
  std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
  if (!loop) return SoundOutcome::NotPlayed;
  auto context = ConnectToServer(loop.get(), connectBy);
  if (!context) return SoundOutcome::NotPlayed;

  // Named for this process, so that two programs beeping at once do not
  // remove each other's sound.
  const std::string name = std::string(kSoundName) + "-" + std::to_string(getpid());
  if (!UploadSample(loop.get(), context.get(), name, samples, sampleRate, connectBy, doneBy)) {
    return SoundOutcome::NotPlayed;
  }
  std::unique_ptr<pa_proplist, ProplistFree> properties(pa_proplist_new());
  pa_proplist_sets(properties.get(), PA_PROP_MEDIA_ROLE, kSoundRole);
  int playAnswer = -1;
  const int playing = AwaitAnswer(
      loop.get(),
      pa_context_play_sample_with_proplist(context.get(), name.c_str(), nullptr, PA_VOLUME_INVALID,
                                           properties.get(), NotePlaying, &playAnswer),
      playAnswer, doneBy);
  // The sound that plays keeps its samples; the cache entry is not needed.
  int removed = -1;
  AwaitAnswer(loop.get(),
              pa_context_remove_sample(context.get(), name.c_str(), NoteSuccess, &removed), removed,
              doneBy);
  if (playing == 1) return SoundOutcome::Played;
  return playing == 0 ? SoundOutcome::NotPlayed : SoundOutcome::Unfinished;
}
