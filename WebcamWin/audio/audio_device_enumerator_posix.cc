// Linux: one short-lived PulseAudio connection per listing, driven by its
// own main loop until the list is complete or two seconds have passed. No
// server is started for us (no autospawn): the settings dialog must not
// bring up a sound server as a side effect.
#include <pulse/pulseaudio.h>

#include <chrono>

#include "WebcamWin/audio/audio_device_enumerator.h"
#include "base/logging.h"

namespace {

constexpr auto kTimeout = std::chrono::seconds(2);
constexpr int kPollSliceUs = 50 * 1000;

enum class Kind { kSources, kSinks };

struct Listing {
  std::vector<base::string16> names;
  bool done = false;
};

void onSource(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* listing = static_cast<Listing*>(user);
  if (eol) {
    listing->done = true;
    return;
  }
  // A sink's monitor is no recording device.
  if (info && info->monitor_of_sink == PA_INVALID_INDEX && info->description)
    listing->names.push_back(base::utf8ToWide(info->description));
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  auto* listing = static_cast<Listing*>(user);
  if (eol) {
    listing->done = true;
    return;
  }
  if (info && info->description) listing->names.push_back(base::utf8ToWide(info->description));
}

// One main-loop pass of at most a slice; false once the deadline is past or
// the loop failed.
bool iterate(pa_mainloop* loop, std::chrono::steady_clock::time_point deadline) {
  if (std::chrono::steady_clock::now() >= deadline) return false;
  if (pa_mainloop_prepare(loop, kPollSliceUs) < 0) return false;
  if (pa_mainloop_poll(loop) < 0) return false;
  return pa_mainloop_dispatch(loop) >= 0;
}

std::vector<base::string16> list(Kind kind) {
  Listing listing;
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return listing.names;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Lumora ZuvIridar");
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    pa_context_state_t state;
    while ((state = pa_context_get_state(context)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state) &&
           iterate(loop, deadline)) {
    }
    if (state == PA_CONTEXT_READY) {
      pa_operation* op = kind == Kind::kSources
                             ? pa_context_get_source_info_list(context, &onSource, &listing)
                             : pa_context_get_sink_info_list(context, &onSink, &listing);
      while (op && !listing.done && pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
             iterate(loop, deadline)) {
      }
      if (op) pa_operation_unref(op);
      if (!listing.done) LOG(WARNING) << "PulseAudio did not list its devices in time";
    } else {
      LOG(WARNING) << "No connection to PulseAudio: "
                   << pa_strerror(pa_context_errno(context));
    }
    pa_context_disconnect(context);
  } else {
    LOG(WARNING) << "No connection to PulseAudio";
  }
  if (context) pa_context_unref(context);
  pa_mainloop_free(loop);
  // A cut listing would offer a wrong choice; offer none.
  if (!listing.done) listing.names.clear();
  return listing.names;
}

}  // namespace

std::vector<base::string16> enumerateRecordingDevices() { return list(Kind::kSources); }

std::vector<base::string16> enumeratePlaybackDevices() { return list(Kind::kSinks); }
