#include "base/values.h"

#include <cstring>

#include "base/logging.h"
#include "base/pickle.h"

namespace base {

Value::~Value() = default;
bool Value::asBoolean(bool*) const { return false; }
bool Value::asInteger(int32_t*) const { return false; }
bool Value::asInt64(int64_t*) const { return false; }
bool Value::asReal(double*) const { return false; }
bool Value::asWideString(string16*) const { return false; }
bool Value::asString(std::string*) const { return false; }
Value* Value::deepCopy() const { return new Value; }
bool Value::equals(const Value* other) const {
  return other && other->type() == kNull && type() == kNull;
}

FundamentalValue::FundamentalValue(bool value) : Value(kBoolean), int64_(0) { boolean_ = value; }
FundamentalValue::FundamentalValue(int32_t value) : Value(kInteger), int64_(0) { integer_ = value; }
FundamentalValue::FundamentalValue(int64_t value) : Value(kInt64), int64_(value) {}
FundamentalValue::FundamentalValue(double value) : Value(kReal) { std::memcpy(&int64_, &value, sizeof value); }

std::unique_ptr<FundamentalValue> FundamentalValue::fromRealBits(uint64_t bits) {
  auto value = std::make_unique<FundamentalValue>(0.0);
  std::memcpy(&value->int64_, &bits, sizeof bits);
  return value;
}

uint64_t FundamentalValue::realBits() const {
  uint64_t bits = 0;
  if (type() == kReal) std::memcpy(&bits, &int64_, sizeof bits);
  return bits;
}

bool FundamentalValue::asBoolean(bool* out) const {
  if (type() != kBoolean) return false;
  if (out) *out = boolean_;
  return true;
}
bool FundamentalValue::asInteger(int32_t* out) const {
  if (type() != kInteger) return false;
  if (out) *out = integer_;
  return true;
}
bool FundamentalValue::asInt64(int64_t* out) const {
  if (type() != kInt64) return false;
  if (out) *out = int64_;
  return true;
}
bool FundamentalValue::asReal(double* out) const {
  if (type() != kReal) return false;
  if (out) std::memcpy(out, &int64_, sizeof *out);
  return true;
}

Value* FundamentalValue::deepCopy() const {
  switch (type()) {
    case kBoolean: return new FundamentalValue(boolean_);
    case kInteger: return new FundamentalValue(integer_);
    case kInt64: return new FundamentalValue(int64_);
    case kReal: return fromRealBits(realBits()).release();
    default: return new Value;
  }
}

bool FundamentalValue::equals(const Value* other) const {
  if (!other || other->type() != type()) return false;
  switch (type()) {
    case kBoolean: { bool v; return other->asBoolean(&v) && v == boolean_; }
    case kInteger: { int32_t v; return other->asInteger(&v) && v == integer_; }
    case kInt64: { int64_t v; return other->asInt64(&v) && v == int64_; }
    case kReal: {
      double mine, theirs;
      return asReal(&mine) && other->asReal(&theirs) && mine == theirs;
    }
    default: return false;
  }
}

StringValue::StringValue(std::string utf8) : Value(kString), value_(std::move(utf8)) {}
bool StringValue::asWideString(string16* out) const {
  if (out) *out = utf8ToWide(value_);
  return true;
}
bool StringValue::asString(std::string* out) const {
  if (out) *out = value_;
  return true;
}
Value* StringValue::deepCopy() const { return new StringValue(value_); }
bool StringValue::equals(const Value* other) const {
  std::string v;
  return other && other->type() == kString && other->asString(&v) && v == value_;
}

BinaryValue::BinaryValue(std::unique_ptr<uint8_t[]> block, uint32_t size)
    : Value(kBinary), data_(std::move(block)), size_(size) {}

BinaryValue* BinaryValue::createWithCopiedBuffer(const void* data, uint32_t size) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(block.get(), data, size);
  return new BinaryValue(std::move(block), size);
}
Value* BinaryValue::deepCopy() const { return createWithCopiedBuffer(data_.get(), size_); }
bool BinaryValue::equals(const Value* other) const {
  if (!other || other->type() != kBinary) return false;
  const auto* o = static_cast<const BinaryValue*>(other);
  return o->size_ == size_ && (size_ == 0 || std::memcmp(o->data_.get(), data_.get(), size_) == 0);
}

DictionaryValue::DictionaryValue() : Value(kDictionary) {}
DictionaryValue::~DictionaryValue() = default;

bool DictionaryValue::hasKey(const std::string& key) const { return entries_.count(key) != 0; }

bool DictionaryValue::get(const std::string& key, Value** out) const {
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  if (out) *out = it->second.get();
  return true;
}

void DictionaryValue::set(const std::string& key, Value* value) {
  set(key, std::unique_ptr<Value>(value));
}
void DictionaryValue::set(const std::string& key, std::unique_ptr<Value> value) {
  if (!value) value.reset(new Value);
  entries_[key] = std::move(value);
}
void DictionaryValue::clear() { entries_.clear(); }

bool DictionaryValue::getBoolean(const std::string& key, bool* out) const {
  Value* v; return get(key, &v) && v->asBoolean(out);
}
bool DictionaryValue::getInteger(const std::string& key, int32_t* out) const {
  Value* v; return get(key, &v) && v->asInteger(out);
}
bool DictionaryValue::getInt64(const std::string& key, int64_t* out) const {
  Value* v; return get(key, &v) && v->asInt64(out);
}
bool DictionaryValue::getReal(const std::string& key, double* out) const {
  Value* v; return get(key, &v) && v->asReal(out);
}
bool DictionaryValue::getString(const std::string& key, std::string* out) const {
  Value* v; return get(key, &v) && v->asString(out);
}
bool DictionaryValue::getWideString(const std::string& key, string16* out) const {
  Value* v; return get(key, &v) && v->asWideString(out);
}
bool DictionaryValue::getDictionary(const std::string& key, const DictionaryValue** out) const {
  Value* v;
  if (!get(key, &v) || v->type() != kDictionary) return false;
  if (out) *out = static_cast<const DictionaryValue*>(v);
  return true;
}
bool DictionaryValue::getList(const std::string& key, const ListValue** out) const {
  Value* v;
  if (!get(key, &v) || v->type() != kList) return false;
  if (out) *out = static_cast<const ListValue*>(v);
  return true;
}
bool DictionaryValue::getBinary(const std::string& key, const BinaryValue** out) const {
  Value* v;
  if (!get(key, &v) || v->type() != kBinary) return false;
  if (out) *out = static_cast<const BinaryValue*>(v);
  return true;
}

void DictionaryValue::setBoolean(const std::string& key, bool v) { set(key, new FundamentalValue(v)); }
void DictionaryValue::setInteger(const std::string& key, int32_t v) { set(key, new FundamentalValue(v)); }
void DictionaryValue::setInt64(const std::string& key, int64_t v) { set(key, new FundamentalValue(v)); }
void DictionaryValue::setReal(const std::string& key, double v) { set(key, new FundamentalValue(v)); }
void DictionaryValue::setString(const std::string& key, const std::string& v) { set(key, new StringValue(v)); }

Value* DictionaryValue::deepCopy() const { return deepCopyDictionary(); }

DictionaryValue* DictionaryValue::deepCopyDictionary() const {
  auto* copy = new DictionaryValue;
  for (const auto& [key, value] : entries_) copy->entries_[key].reset(value->deepCopy());
  return copy;
}

bool DictionaryValue::equals(const Value* other) const {
  if (!other || other->type() != kDictionary) return false;
  const auto* o = static_cast<const DictionaryValue*>(other);
  if (o->entries_.size() != entries_.size()) return false;
  auto a = entries_.begin();
  auto b = o->entries_.begin();
  for (; a != entries_.end(); ++a, ++b) {
    if (a->first != b->first || !a->second->equals(b->second.get())) return false;
  }
  return true;
}

ListValue::ListValue() : Value(kList) {}
ListValue::~ListValue() = default;
void ListValue::append(Value* value) { append(std::unique_ptr<Value>(value)); }
void ListValue::append(std::unique_ptr<Value> value) {
  if (!value) value.reset(new Value);
  items_.push_back(std::move(value));
}
bool ListValue::get(size_t index, Value** out) const {
  if (index >= items_.size()) return false;
  if (out) *out = items_[index].get();
  return true;
}
void ListValue::clear() { items_.clear(); }
Value* ListValue::deepCopy() const {
  auto* copy = new ListValue;
  for (const auto& item : items_) copy->items_.emplace_back(item->deepCopy());
  return copy;
}
bool ListValue::equals(const Value* other) const {
  if (!other || other->type() != kList) return false;
  const auto* o = static_cast<const ListValue*>(other);
  if (o->items_.size() != items_.size()) return false;
  for (size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->equals(o->items_[i].get())) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Encoding

namespace {

bool writeTag(Pickle* p, Value::Type type) {
  const uint8_t tag[4] = {static_cast<uint8_t>(type), 0, 0, 0};
  return p->writeBytes(tag, 4);
}

bool writeValue(const Value& value, Pickle* p, int depth) {
  if (depth > kMaxValueNesting) return false;
  switch (value.type()) {
    case Value::kBoolean: {
      bool v = false;
      value.asBoolean(&v);
      return writeTag(p, Value::kBoolean) && p->writeInt(v ? 1 : 0);
    }
    case Value::kInteger: {
      int32_t v = 0;
      value.asInteger(&v);
      return writeTag(p, Value::kInteger) && p->writeInt(v);
    }
    case Value::kInt64: {
      int64_t v = 0;
      value.asInt64(&v);
      return writeTag(p, Value::kInt64) && p->writeInt64(v);
    }
    case Value::kReal: {
      const uint64_t bits = static_cast<const FundamentalValue&>(value).realBits();
      return writeTag(p, Value::kReal) && p->writeInt64(static_cast<int64_t>(bits));
    }
    case Value::kString: {
      const auto& s = static_cast<const StringValue&>(value).value();
      return writeTag(p, Value::kString) && p->writeString(s);
    }
    case Value::kBinary: {
      const auto& b = static_cast<const BinaryValue&>(value);
      return writeTag(p, Value::kBinary) && p->writeData(b.data(), b.size());
    }
    case Value::kDictionary: {
      const auto& d = static_cast<const DictionaryValue&>(value);
      if (!writeTag(p, Value::kDictionary) || !p->writeInt(static_cast<int32_t>(d.size())))
        return false;
      for (const auto& [key, item] : d) {
        if (!p->writeString(key) || !writeValue(*item, p, depth + 1)) return false;
      }
      return true;
    }
    case Value::kList: {
      const auto& l = static_cast<const ListValue&>(value);
      if (!writeTag(p, Value::kList) || !p->writeInt(static_cast<int32_t>(l.size())))
        return false;
      for (const auto& item : l)
        if (!writeValue(*item, p, depth + 1)) return false;
      return true;
    }
    case Value::kNull:
      break;
  }
  return false;
}

// Every encoded item takes at least its 4-byte tag; a dictionary entry at
// least its key length and the value's tag.
constexpr size_t kMinItemBytes = 4;
constexpr size_t kMinEntryBytes = 8;

std::unique_ptr<Value> readValue(PickleIterator* it, int depth);

std::unique_ptr<Value> readBody(PickleIterator* it, uint8_t tag, int depth) {
  switch (tag) {
    case Value::kBoolean: {
      int32_t v;
      if (!it->readInt(&v)) return nullptr;
      return std::make_unique<FundamentalValue>(v != 0);
    }
    case Value::kInteger: {
      int32_t v;
      if (!it->readInt(&v)) return nullptr;
      return std::make_unique<FundamentalValue>(v);
    }
    case Value::kInt64: {
      int64_t v;
      if (!it->readInt64(&v)) return nullptr;
      return std::make_unique<FundamentalValue>(v);
    }
    case Value::kReal: {
      int64_t bits;
      if (!it->readInt64(&bits)) return nullptr;
      return FundamentalValue::fromRealBits(static_cast<uint64_t>(bits));
    }
    case Value::kString: {
      std::string s;
      if (!it->readString(&s)) return nullptr;
      return std::make_unique<StringValue>(std::move(s));
    }
    case Value::kBinary: {
      const uint8_t* data;
      int32_t n;
      if (!it->readData(&data, &n)) return nullptr;
      return std::unique_ptr<Value>(
          BinaryValue::createWithCopiedBuffer(data, static_cast<uint32_t>(n)));
    }
    case Value::kDictionary: {
      int32_t count;
      if (!it->readInt(&count) || count < 0 ||
          static_cast<size_t>(count) > it->remaining() / kMinEntryBytes)
        return nullptr;
      auto dict = std::make_unique<DictionaryValue>();
      for (int32_t i = 0; i < count; ++i) {
        std::string key;
        if (!it->readString(&key)) return nullptr;
        std::unique_ptr<Value> v = readValue(it, depth + 1);
        if (!v) return nullptr;
        dict->set(key, std::move(v));  // a later equal key wins
      }
      return dict;
    }
    case Value::kList: {
      int32_t count;
      if (!it->readInt(&count) || count < 0 ||
          static_cast<size_t>(count) > it->remaining() / kMinItemBytes)
        return nullptr;
      auto list = std::make_unique<ListValue>();
      for (int32_t i = 0; i < count; ++i) {
        std::unique_ptr<Value> v = readValue(it, depth + 1);
        if (!v) return nullptr;
        list->append(std::move(v));
      }
      return list;
    }
    default:
      return nullptr;  // null (never written) or unknown
  }
}

std::unique_ptr<Value> readValue(PickleIterator* it, int depth) {
  if (depth > kMaxValueNesting) return nullptr;
  uint8_t tag;
  if (!it->readByte(&tag)) return nullptr;
  return readBody(it, tag, depth);
}

}  // namespace

bool writeDictionaryToPickle(const DictionaryValue& dictionary, Pickle* pickle) {
  return pickle && writeValue(dictionary, pickle, 0);
}

std::unique_ptr<DictionaryValue> readDictionaryFromPickle(PickleIterator* iter) {
  PickleIterator probe = *iter;
  uint8_t tag;
  if (!probe.readByte(&tag) || tag != Value::kDictionary) return nullptr;
  std::unique_ptr<Value> v = readBody(&probe, tag, 0);
  if (!v) return nullptr;
  *iter = probe;
  return std::unique_ptr<DictionaryValue>(static_cast<DictionaryValue*>(v.release()));
}

}  // namespace base
