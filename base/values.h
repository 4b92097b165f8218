// The value tree carried by every structured message: a dictionary at the
// root whose entries are booleans, integers, reals, strings, binary blobs,
// lists and nested dictionaries. Containers own their values.
#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/string_util.h"

namespace base {

class Pickle;
class PickleIterator;

class Value {
 public:
  // The tag numbers are part of the wire format.
  enum Type : int32_t {
    kNull = 0,
    kBoolean = 1,
    kInteger = 2,
    kReal = 3,
    kString = 4,
    kBinary = 5,
    kDictionary = 6,
    kList = 7,
    kInt64 = 8,
  };

  Value() : type_(kNull) {}
  virtual ~Value();
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;

  Type type() const { return type_; }
  bool isType(Type t) const { return type_ == t; }

  // Each getter answers true only for the matching tag; with a null `out`
  // it only tests. There are no conversions between kinds.
  virtual bool asBoolean(bool* out) const;
  virtual bool asInteger(int32_t* out) const;
  virtual bool asInt64(int64_t* out) const;
  virtual bool asReal(double* out) const;
  virtual bool asWideString(string16* out) const;
  virtual bool asString(std::string* out) const;
  virtual Value* deepCopy() const;
  virtual bool equals(const Value* other) const;

  static Value* createNull() { return new Value; }

 protected:
  explicit Value(Type type) : type_(type) {}

 private:
  Type type_;
};

class FundamentalValue : public Value {
 public:
  explicit FundamentalValue(bool value);
  explicit FundamentalValue(int32_t value);
  explicit FundamentalValue(int64_t value);
  explicit FundamentalValue(double value);

  bool asBoolean(bool* out) const override;
  bool asInteger(int32_t* out) const override;
  bool asInt64(int64_t* out) const override;
  bool asReal(double* out) const override;
  Value* deepCopy() const override;
  bool equals(const Value* other) const override;

  // A real by its exact bits. The reader and the writer use these, so a
  // received real goes out again bit for bit: copying a double through the
  // 32-bit x87 registers would quiet a signalling NaN.
  static std::unique_ptr<FundamentalValue> fromRealBits(uint64_t bits);
  uint64_t realBits() const;

 private:
  union {
    bool boolean_;
    int32_t integer_;
    int64_t int64_;
    double real_;
  };
};

class StringValue : public Value {
 public:
  explicit StringValue(std::string utf8);
  bool asWideString(string16* out) const override;
  bool asString(std::string* out) const override;
  Value* deepCopy() const override;
  bool equals(const Value* other) const override;
  const std::string& value() const { return value_; }

 private:
  std::string value_;
};

class BinaryValue : public Value {
 public:
  // Takes over a block allocated with new[].
  BinaryValue(std::unique_ptr<uint8_t[]> block, uint32_t size);
  static BinaryValue* createWithCopiedBuffer(const void* data, uint32_t size);

  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }
  Value* deepCopy() const override;
  bool equals(const Value* other) const override;

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_;
};

class DictionaryValue : public Value {
 public:
  using Storage = std::map<std::string, std::unique_ptr<Value>>;

  DictionaryValue();
  ~DictionaryValue() override;

  bool hasKey(const std::string& key) const;
  // A borrowed pointer to the value under `key`.
  bool get(const std::string& key, Value** out) const;
  // Takes ownership; a value stored under the key before is deleted.
  void set(const std::string& key, Value* value);
  void set(const std::string& key, std::unique_ptr<Value> value);
  void clear();
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // Typed look-ups: false when the key is missing or of another kind.
  bool getBoolean(const std::string& key, bool* out) const;
  bool getInteger(const std::string& key, int32_t* out) const;
  bool getInt64(const std::string& key, int64_t* out) const;
  bool getReal(const std::string& key, double* out) const;
  bool getString(const std::string& key, std::string* out) const;
  bool getWideString(const std::string& key, string16* out) const;
  bool getDictionary(const std::string& key, const DictionaryValue** out) const;
  bool getList(const std::string& key, const class ListValue** out) const;
  bool getBinary(const std::string& key, const BinaryValue** out) const;

  void setBoolean(const std::string& key, bool v);
  void setInteger(const std::string& key, int32_t v);
  void setInt64(const std::string& key, int64_t v);
  void setReal(const std::string& key, double v);
  void setString(const std::string& key, const std::string& v);

  // Ascending byte order of the keys.
  Storage::const_iterator begin() const { return entries_.begin(); }
  Storage::const_iterator end() const { return entries_.end(); }

  Value* deepCopy() const override;
  DictionaryValue* deepCopyDictionary() const;
  bool equals(const Value* other) const override;

 private:
  Storage entries_;
};

class ListValue : public Value {
 public:
  using Storage = std::vector<std::unique_ptr<Value>>;

  ListValue();
  ~ListValue() override;

  void append(Value* value);
  void append(std::unique_ptr<Value> value);
  size_t size() const { return items_.size(); }
  bool get(size_t index, Value** out) const;
  void clear();

  Storage::const_iterator begin() const { return items_.begin(); }
  Storage::const_iterator end() const { return items_.end(); }

  Value* deepCopy() const override;
  bool equals(const Value* other) const override;

 private:
  Storage items_;
};

// Encoding into pickles. The dictionary is written at the pickle's current
// end (tag 6 first), so other fields may precede it. Fails on a null value
// anywhere in the tree (nothing sensible to put on the wire).
bool writeDictionaryToPickle(const DictionaryValue& dictionary, Pickle* pickle);

// Decoding at the iterator's position: the first item must be a dictionary.
// Fails without keeping anything partial on an unknown tag, a negative or
// oversized length, a count the remaining bytes cannot hold, or nesting
// deeper than kMaxValueNesting. On failure the iterator is left where it was.
constexpr int kMaxValueNesting = 100;
std::unique_ptr<DictionaryValue> readDictionaryFromPickle(PickleIterator* iter);

}  // namespace base

#endif  // BASE_VALUES_H_
