// Linux: PulseAudio's default source and sink, by description. Without a
// running server nothing is found (no server is started for us).
#include <pulse/pulseaudio.h>

#include <chrono>
#include <string>

#include "PC_Audio_DRV/defprobe/defprobe.h"
#include "base/logging.h"

namespace {

constexpr auto kTimeout = std::chrono::seconds(2);
constexpr int kPollSliceUs = 50 * 1000;

struct Query {
  std::string defaultSource, defaultSink;
  DefaultDevice device;
  bool done = false;
};

void onServer(pa_context*, const pa_server_info* info, void* user) {
  auto* query = static_cast<Query*>(user);
  if (info) {
    query->defaultSource = info->default_source_name ? info->default_source_name : "";
    query->defaultSink = info->default_sink_name ? info->default_sink_name : "";
  }
  query->done = true;
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* query = static_cast<Query*>(user);
  if (eol) {
    query->done = true;
    return;
  }
  if (info && info->description) {
    query->device.found = true;
    query->device.name = base::utf8ToWide(info->description);
  }
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  auto* query = static_cast<Query*>(user);
  if (eol) {
    query->done = true;
    return;
  }
  if (info && info->description) {
    query->device.found = true;
    query->device.name = base::utf8ToWide(info->description);
  }
}

bool iterate(pa_mainloop* loop, std::chrono::steady_clock::time_point deadline) {
  if (std::chrono::steady_clock::now() >= deadline) return false;
  if (pa_mainloop_prepare(loop, kPollSliceUs) < 0) return false;
  if (pa_mainloop_poll(loop) < 0) return false;
  return pa_mainloop_dispatch(loop) >= 0;
}

void run(pa_mainloop* loop, pa_operation* op, Query* query, std::chrono::steady_clock::time_point deadline) {
  while (op && !query->done && pa_operation_get_state(op) == PA_OPERATION_RUNNING && iterate(loop, deadline)) {
  }
  if (op) pa_operation_unref(op);
}

DefaultDevice probe(bool recording) {
  Query query;
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return query.device;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Lumora defprobe");
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    pa_context_state_t state;
    while ((state = pa_context_get_state(context)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state) &&
           iterate(loop, deadline)) {
    }
    if (state == PA_CONTEXT_READY) {
      run(loop, pa_context_get_server_info(context, &onServer, &query), &query, deadline);
      const std::string& name = recording ? query.defaultSource : query.defaultSink;
      if (!name.empty()) {
        query.done = false;
        run(loop,
            recording ? pa_context_get_source_info_by_name(context, name.c_str(), &onSource, &query)
                      : pa_context_get_sink_info_by_name(context, name.c_str(), &onSink, &query),
            &query, deadline);
      }
    } else {
      LOG(WARNING) << "No connection to PulseAudio";
    }
    pa_context_disconnect(context);
  }
  if (context) pa_context_unref(context);
  pa_mainloop_free(loop);
  return query.device;
}

}  // namespace

DefaultDevice defaultRecordingDevice() { return probe(true); }
DefaultDevice defaultPlaybackDevice() { return probe(false); }
