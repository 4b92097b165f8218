#include "tools/phonesim/simulator.h"

#include <atomic>
#include <cstdlib>
#include <deque>
#include <istream>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <sstream>
#include <thread>

#include "base/message_loop.h"
#include "base/thread_call.h"
#include "tools/phonesim/session_messages.h"

namespace phonesim {
namespace {

bool parseNumber(const std::string& text, uint64_t max, uint64_t* out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return false;
  }
  *out = value;
  return true;
}

// "S" or "S.fff" seconds up to `maxSeconds` to milliseconds.
bool parseSeconds(const std::string& text, uint64_t maxSeconds, uint64_t* ms) {
  const size_t dot = text.find('.');
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  uint64_t seconds = 0, part = 0;
  if (fraction.size() > 3) fraction.resize(3);
  while (!fraction.empty() && fraction.size() < 3) fraction += '0';
  if (!parseNumber(text.substr(0, dot), maxSeconds, &seconds) || (!fraction.empty() && !parseNumber(fraction, 999, &part)))
    return false;
  *ms = seconds * 1000 + part;
  return true;
}

std::string valueText(const base::Value* value) {
  std::string s;
  int32_t i = 0;
  int64_t l = 0;
  bool b = false;
  double d = 0;
  if (value->asString(&s)) return s;
  if (value->asInteger(&i)) return std::to_string(i);
  if (value->asInt64(&l)) return std::to_string(l);
  if (value->asBoolean(&b)) return b ? "true" : "false";
  if (value->asReal(&d)) return std::to_string(d);
  return "<" + std::to_string(value->type()) + ">";
}

// Lines of the command input, read on a helper thread and handed to the
// loop's thread. Shared with the reader, which may outlive the session when
// the input blocks (a terminal).
struct LineFeed {
  std::mutex mu;
  std::deque<std::string> lines;
  bool ended = false;
  base::ThreadCall* call = nullptr;  // null once the session is gone

  void add(std::string line, bool end) {
    std::lock_guard<std::mutex> lock(mu);
    if (end) ended = true;
    else lines.push_back(std::move(line));
    if (call) call->post();
  }
};

class Session : public PhoneConnection::Observer,
                private base::MessageWindow::Handler,
                private base::ThreadCall::Delegate {
 public:
  static constexpr uintptr_t kAnswerTimer = 1;
  static constexpr uintptr_t kLingerTimer = 2;
  static constexpr uintptr_t kAuthTimer = 3;
  static constexpr uintptr_t kStallTimer = 4;
  static constexpr uintptr_t kReleaseTimer = 5;
  // One timer per --action-at, from this id on.
  static constexpr uintptr_t kTimedActionTimer = 100;
  enum class Auth { kNotAsked, kWaiting, kAccepted, kRejected, kNone };
  static constexpr uint32_t kAudioComponentType = 56001;

  Session(const SimulatorOptions& options, std::ostream& out, base::MessageLoop* loop)
      : options_(options), out_(out), loop_(loop),
        window_(u"com.quillonlabs.phonesim.Session", static_cast<base::MessageWindow::Handler*>(this)),
        call_(static_cast<base::ThreadCall::Delegate*>(this)) {
    phone_.addObserver(this);
  }

  ~Session() override {
    if (feed_) {
      std::lock_guard<std::mutex> lock(feed_->mu);
      feed_->call = nullptr;
    }
    if (reader_.joinable()) {
      if (readerDone_->load()) reader_.join();
      else reader_.detach();  // blocked on a terminal; it touches only `feed_`
    }
    phone_.removeObserver(this);
  }

  int start(std::istream* commands) {
    commands_ = commands;
    std::string error;
    if (!options_.video.source.empty()) {
      std::vector<VideoPicture> pictures;
      if (!loadVideoPictures(options_.video, &pictures, &error)) {
        out_ << "error " << error << std::endl;
        return kExitFailed;
      }
      out_ << "video sending " << pictures.size() << " pictures " << pictures[0].width << "x" << pictures[0].height
           << " orientation=" << options_.video.orientation << " fps=" << options_.video.fps << std::endl;
      const bool dictionary = transport::Version::fromFields(options_.identity.version) >=
                              transport::Version::fromString("2.0");
      video_ = std::make_unique<VideoSender>(&phone_, options_.video, dictionary, std::move(pictures));
      video_->onDone = [this] {
        out_ << "video sent " << video_->sent() << " frames" << std::endl;
        if (!options_.stay) window_.setTimer(kLingerTimer, static_cast<uint32_t>(std::max(options_.lingerMs, 0)));
      };
    }
    if (!phone_.connect(options_.host, options_.port, options_.timeoutMs, &error)) {
      out_ << "error cannot connect to " << options_.host << ":" << options_.port << ": " << error << std::endl;
      return kExitFailed;
    }
    window_.setTimer(kAnswerTimer, static_cast<uint32_t>(options_.timeoutMs));
    if (options_.audio.wanted()) {
      bool ok = false;
      // The session sends the authorization data; the audio waits for the
      // answer when there is one to wait for.
      audioOptions_ = options_.audio;
      audioOptions_.awaitAuth = options_.authorize;
      audio_ = std::make_unique<PhoneAudio>(audioOptions_, &phone_, out_, &ok);
      if (!ok) return kExitFailed;
    }
    const int code = loop_->run();
    if (audio_) audio_->finish();
    return code;
  }

 private:
  void finish(int code) {
    if (finished_) return;
    finished_ = true;
    window_.killTimer(kAnswerTimer);
    window_.killTimer(kLingerTimer);
    window_.killTimer(kAuthTimer);
    window_.killTimer(kStallTimer);
    window_.killTimer(kReleaseTimer);
    loop_->quit(code);
  }

  // -1: as long as the audio to send lasts, and a little more.
  int32_t lingerMs() const {
    if (options_.lingerMs >= 0) return options_.lingerMs;
    return audio_ ? static_cast<int32_t>(audio_->durationMs()) + 1500 : 300;
  }

  int resultCode() const {
    if (phone_.farewellReceived()) return kExitFarewell;
    if (auth_ == Auth::kRejected) return kExitRejected;
    if (auth_ == Auth::kNone || auth_ == Auth::kWaiting) return kExitNoAnswer;
    return phone_.serverHandshake() ? kExitAdmitted : kExitFailed;
  }

  void sendAuth() {
    out_ << "auth sent uid=" << options_.uid << " name=" << options_.name << std::endl;
    phone_.sendMessage(kAuthType, authData(options_.uid, options_.name, options_.nameFirst));
    auth_ = Auth::kWaiting;
    window_.setTimer(kAuthTimer, static_cast<uint32_t>(std::max(options_.answerTimeoutMs, 1)));
  }

  void sendAction(int32_t action) {
    out_ << "sent action " << action << std::endl;
    phone_.sendMessage(kActionType, actionMessage(action));
  }

  // After the handshake, or after the answer to the authorization data.
  void proceed() {
    for (int32_t action : options_.actions) sendAction(action);
    for (size_t i = 0; i < options_.timedActions.size(); ++i) {
      window_.setTimer(kTimedActionTimer + i, static_cast<uint32_t>(std::max(options_.timedActions[i].first, 1)));
    }
    if (options_.stallMs > 0) window_.setTimer(kStallTimer, static_cast<uint32_t>(std::max(options_.stallAtMs, 1)));
    if (video_) video_->start();
    if (options_.stay) startReadingCommands();
    else if (!video_) window_.setTimer(kLingerTimer, static_cast<uint32_t>(std::max(lingerMs(), 0)));
  }

  void onSessionMessage(const transport::Frame& frame) {
    int32_t kind = 0, value = 0;
    if (!readKind(frame.payload, &kind)) return;
    if (frame.type == kAuthType && kind == 2) {
      if (!readIntegerField(frame.payload, 1, &value)) {
        out_ << "error authorization result without its field" << std::endl;
        return;
      }
      out_ << "auth " << (value == 1 ? "accepted" : "rejected") << std::endl;
      const bool waiting = auth_ == Auth::kWaiting;
      auth_ = value == 1 ? Auth::kAccepted : Auth::kRejected;
      if (waiting) {
        window_.killTimer(kAuthTimer);
        proceed();
      }
    } else if (frame.type == kActionType && kind >= 1 && kind <= 3) {
      out_ << "action " << kind << std::endl;
    } else if (frame.type == kActionType && kind == 4 && readIntegerField(frame.payload, 1, &value)) {
      out_ << "recording-time ms=" << static_cast<uint32_t>(value) << std::endl;
    }
  }

  // PhoneConnection::Observer
  void onPhoneConnected(PhoneConnection* phone) override {
    out_ << "connected " << options_.host << ":" << options_.port << std::endl;
    if (options_.garbageBytes) phone->sendRaw(makeGarbage(options_.garbageBytes, 1));
    phone->sendHandshake(options_.identity);
  }

  void onServerHandshake(PhoneConnection* phone, const transport::ServerHandshake& handshake,
                         uint32_t sequence) override {
    window_.killTimer(kAnswerTimer);
    out_ << "handshake sequence=" << sequence << " app_id=" << handshake.applicationId
         << " version=" << transport::versionPartsText(handshake.version) << std::endl;
    if (handshake.information) {
      for (const auto& [key, value] : *handshake.information) out_ << "info " << key << "=" << valueText(value.get()) << std::endl;
    }
    for (const auto& [type, payload] : options_.messages) phone->sendMessage(type, payload);
    for (int32_t action : options_.earlyActions) sendAction(action);
    if (options_.authorize) sendAuth();
    else proceed();
  }

  void onFarewell(PhoneConnection*, uint32_t reason, uint32_t sequence) override {
    out_ << "farewell sequence=" << sequence << " reason=" << reason << std::endl;
  }

  void onMessage(PhoneConnection*, const transport::Frame& frame) override {
    // The audio part reports its own traffic in summary lines.
    if (audio_ && frame.type == kAudioComponentType) return;
    out_ << "message sequence=" << frame.sequence << " type=" << frame.type << " bytes=" << frame.payload.size()
         << " data=" << hexOf(frame.payload.data(), frame.payload.size(), 32) << std::endl;
    onSessionMessage(frame);
  }

  void onPhoneDisconnected(PhoneConnection*, const transport::Error* error) override {
    if (video_ && !video_->done()) out_ << "video sent " << video_->sent() << " frames" << std::endl;
    if (video_) video_->stop();
    out_ << "disconnected";
    if (error && !(error->domain == transport::Error::kSystem && error->code == 0))
      out_ << " error domain=" << error->domain << " code=" << error->code << " " << error->description;
    out_ << std::endl;
    finish(resultCode());
  }

  // Timers.
  void onWindowMessage(uint32_t msg, uintptr_t wparam, intptr_t) override {
    if (msg != base::kMsgTimer) return;
    window_.killTimer(wparam);
    if (wparam >= kTimedActionTimer && wparam - kTimedActionTimer < options_.timedActions.size()) {
      if (!finished_) sendAction(options_.timedActions[wparam - kTimedActionTimer].second);
      return;
    }
    if (wparam == kAnswerTimer) {
      out_ << "error no answer from the PC within " << options_.timeoutMs << " ms" << std::endl;
      phone_.abort();
      finish(kExitFailed);
    } else if (wparam == kStallTimer) {
      out_ << "stall held for " << options_.stallMs << " ms" << std::endl;
      phone_.hold();
      if (options_.onStall) options_.onStall(true);
      window_.setTimer(kReleaseTimer, static_cast<uint32_t>(options_.stallMs));
    } else if (wparam == kReleaseTimer) {
      out_ << "stall released bytes=" << phone_.release() << std::endl;
      if (options_.onStall) options_.onStall(false);
    } else if (wparam == kLingerTimer) {
      phone_.disconnect();
    } else if (wparam == kAuthTimer) {
      out_ << "auth none within " << options_.answerTimeoutMs << " ms" << std::endl;
      auth_ = Auth::kNone;
      phone_.disconnect();
    }
  }

  // Commands.
  void startReadingCommands() {
    if (!commands_ || feed_) return;
    feed_ = std::make_shared<LineFeed>();
    feed_->call = &call_;
    readerDone_ = std::make_shared<std::atomic<bool>>(false);
    std::istream* in = commands_;
    reader_ = std::thread([feed = feed_, done = readerDone_, in] {
      std::string line;
      while (std::getline(*in, line)) feed->add(line, false);
      feed->add({}, true);
      done->store(true);
    });
  }

  void run() override {
    std::deque<std::string> lines;
    bool ended;
    {
      std::lock_guard<std::mutex> lock(feed_->mu);
      lines.swap(feed_->lines);
      ended = feed_->ended;
    }
    for (const std::string& line : lines) {
      if (finished_) return;
      command(line);
    }
    if (ended && !finished_) phone_.disconnect();
  }

  void command(const std::string& line) {
    std::istringstream words(line);
    std::string verb, a, b;
    words >> verb >> a;
    std::getline(words, b);
    std::vector<uint8_t> bytes;
    uint64_t n = 0;
    if (verb.empty() || verb[0] == '#') return;
    if (verb == "quit") {
      phone_.disconnect();
    } else if (verb == "auth") {
      sendAuth();
    } else if (verb == "action" && parseNumber(a, 0x7FFFFFFF, &n)) {
      sendAction(static_cast<int32_t>(n));
    } else if (verb == "handshake") {
      phone_.sendHandshake(options_.identity);
    } else if (verb == "send" && parseNumber(a, 0xFFFFFFFFu, &n) && parseHex(b, &bytes)) {
      if (!phone_.sendMessage(static_cast<uint32_t>(n), bytes)) out_ << "error message too large" << std::endl;
    } else if (verb == "raw" && parseHex(a + b, &bytes)) {
      phone_.sendRaw(std::move(bytes));
    } else if (verb == "garbage" && parseNumber(a, 64u << 20, &n)) {
      phone_.sendRaw(makeGarbage(static_cast<size_t>(n), 2));
    } else {
      out_ << "error unknown command: " << line << std::endl;
    }
  }

  // The authorization data (kind 1): unique id (tag 1) and name (tag 2).
  const SimulatorOptions& options_;
  std::ostream& out_;
  base::MessageLoop* loop_;
  PhoneConnection phone_;
  base::MessageWindow window_;
  base::ThreadCall call_;
  std::istream* commands_ = nullptr;
  std::shared_ptr<LineFeed> feed_;
  std::shared_ptr<std::atomic<bool>> readerDone_;
  std::thread reader_;
  bool finished_ = false;
  Auth auth_ = Auth::kNotAsked;
  std::unique_ptr<VideoSender> video_;
  AudioOptions audioOptions_;
  std::unique_ptr<PhoneAudio> audio_;
};

}  // namespace

const char* usageText() {
  return "usage: phonesim --port N [options]\n"
         "  --host H             PC to connect to (127.0.0.1)\n"
         "  --port N             its port\n"
         "  --app-id N           application id of the handshake (12000)\n"
         "  --version A.B.C.D    the phone's version (2.0.0.0)\n"
         "  --pin N              PIN field (0)\n"
         "  --device-model S, --system-name S, --system-version S\n"
         "                       the phone's description (from version 2.0 on)\n"
         "  --no-dictionary      leave the description out\n"
         "  --send TYPE:HEX      send a message once admitted (repeatable)\n"
         "  --garbage N          send N bytes of near-frames before the handshake\n"
         "  --stay               keep the connection; read commands from standard input:\n"
         "                       send TYPE HEX | raw HEX | garbage N | handshake | quit\n"
         "  --linger MS          without --stay: listen this long after the answer (300)\n"
         "  --timeout MS         for connecting and for the answer (5000)\n"
         "  --log FILE           write the transport's log there\n"
         "  --uid S, --name S    after the handshake send the authorization data (unique\n"
         "                       id, device name) and wait for the PC's answer\n"
         "  --name-first         send the name field before the unique id\n"
         "  --answer-timeout MS  how long to wait for that answer (30000)\n"
         "  --action N           send action N (1 record, 2 stop, 3 snapshot) once\n"
         "                       accepted (repeatable)\n"
         "  --early-action N     send action N right after the handshake (repeatable)\n"
         "  --action-at S:N      send action N S seconds (decimals allowed) after being\n"
         "                       accepted, e.g. --action-at 1:1 --action-at 9:2 records\n"
         "                       8 s while video and audio stream (repeatable); the PC's\n"
         "                       answers print as \"action N\" and \"recording-time ms=N\"\n"
         "  --stall-at S         S seconds (decimals allowed) after being accepted, hold\n"
         "                       everything the phone sends (audio, video) ...\n"
         "  --stall-seconds N    ... for N seconds (up to 20), then send it all at once;\n"
         "                       the connection stays open\n"
         "  --discover           find the PC by DNS-SD (_lumora_webcam._tcp) instead\n"
         "                       of --host/--port\n"
         "  --auth UID[:NAME]    the same as --uid UID --name NAME\n"
         "  --video SOURCE       stream JPEG frames: pattern (a test card), a folder of\n"
         "                       .jpg files, or an .mjpeg file\n"
         "  --fps N              frames per second (15)\n"
         "  --orientation CODE   orientation code of the frames: 0, 1, 2, 4, 8 (0)\n"
         "  --card WxH           size of the upright test card (480x360)\n"
         "  --frames N           stop after N frames (0: until the PC ends it)\n"
         "  --auth-name NAME     the same as --name NAME\n"
         "  --audio FILE.wav     send this audio (16-bit PCM, any rate) at real pace once accepted\n"
         "  --tone HZ            send a tone instead (--tone-seconds S, default 5)\n"
         "  --profile ID         audio profile to select: ilbc-20ms | lpcm-20ms-8kHz (default)\n"
         "  --record-audio FILE  keep what the PC sends, decoded to 8 kHz, as a WAV file\n"
         "  --first-timestamp N  \"Timestamp\" of the first audio packet (0)\n"
         "  --clock-ppm N        the phone's sample clock runs N ppm fast (negative: slow)\n"
         "                       with audio to send and no --linger: linger until it is sent\n"
         "  with --stay also:    auth | action N\n"
         "exit code: 0 answered (and accepted), 2 farewell received, 3 rejected,\n"
         "           4 no answer to the authorization data, 1 failure\n";
}

bool parseHex(const std::string& text, std::vector<uint8_t>* out) {
  std::vector<uint8_t> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r') continue;
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return false;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  *out = std::move(bytes);
  return true;
}

std::string hexOf(const uint8_t* data, size_t size, size_t maxBytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size && i < maxBytes; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  if (size > maxBytes) text += "...";
  return text;
}

std::vector<uint8_t> makeGarbage(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() % 3);  // many 01 00 00 00 runs
  return bytes;
}

bool parseArguments(const std::vector<std::string>& args, SimulatorOptions* options, std::string* error) {
  SimulatorOptions o;
  bool havePort = false;
  bool haveLinger = false;
  bool haveStallAt = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = name + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    auto number = [&](uint64_t max, uint64_t* n) {
      std::string v;
      if (!value(&v)) return false;
      if (!parseNumber(v, max, n)) {
        *error = name + ": not a number up to " + std::to_string(max) + ": " + v;
        return false;
      }
      return true;
    };
    std::string text;
    uint64_t n = 0;
    if (name == "--host") {
      if (!value(&o.host)) return false;
    } else if (name == "--port") {
      if (!number(65535, &n)) return false;
      if (n == 0) {
        *error = "--port: 0 is not a port to connect to";
        return false;
      }
      o.port = static_cast<uint16_t>(n);
      havePort = true;
    } else if (name == "--app-id") {
      if (!number(0xFFFFFFFFu, &n)) return false;
      o.identity.applicationId = static_cast<uint32_t>(n);
    } else if (name == "--version") {
      if (!value(&text)) return false;
      o.identity.version = transport::parseVersionParts(text);
    } else if (name == "--pin") {
      if (!number(0xFFFFFFFFu, &n)) return false;
      o.identity.pin = static_cast<uint32_t>(n);
    } else if (name == "--device-model") {
      if (!value(&o.identity.deviceModel)) return false;
    } else if (name == "--system-name") {
      if (!value(&o.identity.systemName)) return false;
    } else if (name == "--system-version") {
      if (!value(&o.identity.systemVersion)) return false;
    } else if (name == "--no-dictionary") {
      o.identity.sendDictionary = false;
    } else if (name == "--send") {
      if (!value(&text)) return false;
      const size_t colon = text.find(':');
      std::vector<uint8_t> payload;
      if (colon == std::string::npos || !parseNumber(text.substr(0, colon), 0xFFFFFFFFu, &n) ||
          !parseHex(text.substr(colon + 1), &payload)) {
        *error = "--send wants TYPE:HEX, got " + text;
        return false;
      }
      if (payload.size() > transport::kMaxSendPayloadBytes) {
        *error = "--send: payload larger than a frame can carry";
        return false;
      }
      o.messages.emplace_back(static_cast<uint32_t>(n), std::move(payload));
    } else if (name == "--garbage") {
      if (!number(64u << 20, &n)) return false;
      o.garbageBytes = static_cast<size_t>(n);
    } else if (name == "--stay") {
      o.stay = true;
    } else if (name == "--linger") {
      if (!number(3600000, &n)) return false;
      o.lingerMs = static_cast<int32_t>(n);
      haveLinger = true;
    } else if (name == "--timeout") {
      if (!number(3600000, &n)) return false;
      o.timeoutMs = static_cast<int32_t>(n);
    } else if (name == "--log") {
      if (!value(&o.logFile)) return false;
    } else if (name == "--uid") {
      if (!value(&o.uid)) return false;
      o.authorize = true;
    } else if (name == "--name") {
      if (!value(&o.name)) return false;
      o.authorize = true;
    } else if (name == "--name-first") {
      o.nameFirst = true;
    } else if (name == "--answer-timeout") {
      if (!number(3600000, &n)) return false;
      o.answerTimeoutMs = static_cast<int32_t>(n);
    } else if (name == "--action" || name == "--early-action") {
      if (!number(0x7FFFFFFF, &n)) return false;
      (name == "--action" ? o.actions : o.earlyActions).push_back(static_cast<int32_t>(n));
    } else if (name == "--action-at") {
      if (!value(&text)) return false;
      const size_t colon = text.find(':');
      uint64_t ms = 0, action = 0;
      if (colon == std::string::npos || !parseSeconds(text.substr(0, colon), 86400, &ms) ||
          !parseNumber(text.substr(colon + 1), 0x7FFFFFFF, &action)) {
        *error = "--action-at wants SECONDS:ACTION, e.g. 1.5:1";
        return false;
      }
      o.timedActions.emplace_back(static_cast<int32_t>(ms), static_cast<int32_t>(action));
    } else if (name == "--stall-at" || name == "--stall-seconds") {
      const bool at = name == "--stall-at";
      uint64_t ms = 0;
      if (!value(&text)) return false;
      if (!parseSeconds(text, at ? 86400 : kMaxStallSeconds, &ms) ||
          (!at && (ms == 0 || ms > kMaxStallSeconds * 1000))) {
        *error = name + (at ? ": seconds (decimals allowed), got " : ": 0.001 to " + std::to_string(kMaxStallSeconds) +
                                                                        " seconds, got ") + text;
        return false;
      }
      (at ? o.stallAtMs : o.stallMs) = static_cast<int32_t>(ms);
      haveStallAt |= at;
    } else if (name == "--discover") {
      o.discover = true;
    } else if (name == "--auth") {
      if (!value(&text)) return false;
      const size_t colon = text.find(':');
      o.uid = text.substr(0, colon);
      if (colon != std::string::npos) o.name = text.substr(colon + 1);
      o.authorize = true;
      if (o.uid.empty()) {
        *error = "--auth needs a unique id";
        return false;
      }
    } else if (name == "--video") {
      if (!value(&o.video.source)) return false;
    } else if (name == "--fps") {
      if (!number(1000, &n)) return false;
      if (n == 0) {
        *error = "--fps: 0 frames per second";
        return false;
      }
      o.video.fps = static_cast<uint32_t>(n);
    } else if (name == "--orientation") {
      if (!number(15, &n)) return false;
      o.video.orientation = static_cast<uint32_t>(n);
    } else if (name == "--frames") {
      if (!number(0xFFFFFFFFu, &n)) return false;
      o.video.frames = static_cast<uint32_t>(n);
    } else if (name == "--card") {
      if (!value(&text)) return false;
      const size_t x = text.find('x');
      uint64_t w = 0, h = 0;
      if (x == std::string::npos || !parseNumber(text.substr(0, x), 4096, &w) ||
          !parseNumber(text.substr(x + 1), 4096, &h) || w < 8 || h < 8) {
        *error = "--card wants WxH (8 to 4096 each), got " + text;
        return false;
      }
      o.video.width = static_cast<int32_t>(w);
      o.video.height = static_cast<int32_t>(h);
    } else if (name == "--auth-name") {
      if (!value(&o.name)) return false;
    } else if (name == "--audio") {
      if (!value(&o.audio.audioFile)) return false;
    } else if (name == "--tone") {
      if (!number(3999, &n) || n == 0) {
        if (error->empty()) *error = "--tone: 1 ... 3999 Hz";
        return false;
      }
      o.audio.toneHz = static_cast<double>(n);
    } else if (name == "--tone-seconds") {
      if (!number(3600, &n)) return false;
      o.audio.toneSeconds = static_cast<double>(n);
    } else if (name == "--profile") {
      if (!value(&o.audio.profile)) return false;
    } else if (name == "--record-audio") {
      if (!value(&o.audio.recordFile)) return false;
    } else if (name == "--clock-ppm") {
      std::string v;
      if (!value(&v)) return false;
      const bool negative = !v.empty() && v[0] == '-';
      if (!parseNumber(negative ? v.substr(1) : v, 100000, &n)) {
        *error = name + ": not a number from -100000 to 100000: " + v;
        return false;
      }
      o.audio.clockPpm = negative ? -static_cast<int32_t>(n) : static_cast<int32_t>(n);
    } else if (name == "--first-timestamp") {
      if (!number(uint64_t{1} << 60, &n)) return false;
      o.audio.firstTimestamp = static_cast<int64_t>(n);
    } else {
      *error = "unknown argument: " + name;
      return false;
    }
  }
  if (haveStallAt != (o.stallMs > 0)) {
    *error = "--stall-at and --stall-seconds go together";
    return false;
  }
  if (!havePort && !o.discover) {
    *error = "--port is required";
    return false;
  }
  // Audio to send: stay until it has gone out (a tone's length is known;
  // a file's is estimated generously from its size).
  if (!haveLinger && (o.audio.toneHz > 0 || !o.audio.audioFile.empty())) o.lingerMs = -1;
  *options = std::move(o);
  return true;
}

int runSession(const SimulatorOptions& options, std::ostream& out, std::istream* commands) {
  std::unique_ptr<base::MessageLoop> ownLoop;
  base::MessageLoop* loop = base::MessageLoop::current();
  if (!loop) {
    ownLoop = std::make_unique<base::MessageLoop>();
    loop = ownLoop.get();
  }
  SimulatorOptions found = options;
  if (options.discover) {
    std::string error, name;
    if (!discoverServer(&found.host, &found.port, &name, &error)) {
      out << "error " << error << std::endl;
      return kExitFailed;
    }
    out << "discovered " << name << " " << found.host << ":" << found.port << std::endl;
  }
  Session session(found, out, loop);
  return session.start(commands);
}

}  // namespace phonesim
