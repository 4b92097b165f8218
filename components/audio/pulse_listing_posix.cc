#include "components/audio/pulse_listing_posix.h"

#include <pulse/pulseaudio.h>

#include <chrono>

#include "base/logging.h"

namespace pulse {
namespace {

constexpr auto kTimeout = std::chrono::seconds(2);
constexpr int kPollSliceUs = 50 * 1000;

struct Query {
  Listing listing;
  std::string defaultSource, defaultSink;
  bool done = false;
};

void add(Query* query, const char* name, const char* description, bool monitor) {
  if (!name || !description) return;
  query->listing.devices.push_back(Device{name, description, monitor});
}

void onServer(pa_context*, const pa_server_info* info, void* user) {
  auto* query = static_cast<Query*>(user);
  query->done = true;
  if (!info) return;
  if (info->default_source_name) query->defaultSource = info->default_source_name;
  if (info->default_sink_name) query->defaultSink = info->default_sink_name;
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* query = static_cast<Query*>(user);
  if (eol) {
    query->done = true;
    return;
  }
  if (info) add(query, info->name, info->description, info->monitor_of_sink != PA_INVALID_INDEX);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  auto* query = static_cast<Query*>(user);
  if (eol) {
    query->done = true;
    return;
  }
  if (info) add(query, info->name, info->description, false);
}

// One main-loop pass of at most a slice; false once the deadline is past or
// the loop failed.
bool iterate(pa_mainloop* loop, std::chrono::steady_clock::time_point deadline) {
  if (std::chrono::steady_clock::now() >= deadline) return false;
  if (pa_mainloop_prepare(loop, kPollSliceUs) < 0) return false;
  if (pa_mainloop_poll(loop) < 0) return false;
  return pa_mainloop_dispatch(loop) >= 0;
}

// Runs the loop until `op` has called back its last time; false when it
// failed or the deadline passed first.
bool finish(pa_mainloop* loop, pa_operation* op, Query* query, std::chrono::steady_clock::time_point deadline) {
  if (!op) return false;
  query->done = false;
  while (!query->done && pa_operation_get_state(op) == PA_OPERATION_RUNNING && iterate(loop, deadline)) {
  }
  pa_operation_unref(op);
  return query->done;
}

}  // namespace

Listing listDevices(DeviceKind kind, const char* client) {
  Query query;
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) return query.listing;
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), client);
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  bool complete = false;
  if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    pa_context_state_t state;
    while ((state = pa_context_get_state(context)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state) &&
           iterate(loop, deadline)) {
    }
    if (state == PA_CONTEXT_READY) {
      complete = finish(loop, pa_context_get_server_info(context, &onServer, &query), &query, deadline) &&
                 finish(loop,
                        kind == DeviceKind::kSources ? pa_context_get_source_info_list(context, &onSource, &query)
                                                     : pa_context_get_sink_info_list(context, &onSink, &query),
                        &query, deadline);
      if (!complete) LOG(WARNING) << "PulseAudio did not list its devices in time";
    } else {
      LOG(WARNING) << "No connection to PulseAudio: " << pa_strerror(pa_context_errno(context));
    }
    pa_context_disconnect(context);
  } else {
    LOG(WARNING) << "No connection to PulseAudio";
  }
  if (context) pa_context_unref(context);
  pa_mainloop_free(loop);

  if (!complete) return Listing();
  query.listing.defaultName = kind == DeviceKind::kSources ? query.defaultSource : query.defaultSink;
  query.listing.complete = true;
  return std::move(query.listing);
}

}  // namespace pulse
