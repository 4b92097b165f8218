#include "WebcamWin/support/param_store.h"

#include <gtest/gtest.h>

namespace support {
namespace {

// The request as the main program writes it: UTF-16LE, no byte-order mark.
std::string utf16le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(ParamStoreTest, FirstValueWinsAndKeysAreExact) {
  CParamStore store;
  EXPECT_TRUE(store.insert(u"A", u"1"));
  EXPECT_FALSE(store.insert(u"A", u"2"));
  EXPECT_TRUE(store.insert(u"a", u"3"));
  EXPECT_EQ(u"1", store.get(u"A"));
  EXPECT_EQ(u"3", store.get(u"a"));
  string16 value = u"untouched";
  EXPECT_FALSE(store.lookup(u"B", &value));
  EXPECT_EQ(u"untouched", value);
  EXPECT_EQ(u"", store.get(u"B"));
}

TEST(RequestParserTest, LinesBecomeEntriesAndAnUnfinishedLastLineIsIgnored) {
  CParamStore store;
  const string16 text = decodeUtf16Le(utf16le(u"Log:C:\\x\\debug.log\nVersion:1.0\nDeviceModel:iPhone"));
  EXPECT_EQ(2u, parseRequest(text, &store));
  EXPECT_EQ(2u, store.size());
  EXPECT_EQ(u"C:\\x\\debug.log", store.get(u"Log"));
  EXPECT_EQ(u"1.0", store.get(u"Version"));
  EXPECT_FALSE(store.lookup(u"DeviceModel", nullptr));
}

TEST(RequestParserTest, RepeatedKeyKeepsTheFirstValue) {
  CParamStore store;
  parseRequest(u"A:1\nA:2\n", &store);
  EXPECT_EQ(u"1", store.get(u"A"));
}

TEST(RequestParserTest, ValueKeepsColonsCarriageReturnsAndSpaces) {
  CParamStore store;
  parseRequest(u"SupportForm:http://h:8080/x?a=b\nProduct: Lumora \r\nDeviceModel:\n", &store);
  EXPECT_EQ(u"http://h:8080/x?a=b", store.get(u"SupportForm"));
  EXPECT_EQ(u" Lumora \r", store.get(u"Product"));
  string16 value = u"x";
  EXPECT_TRUE(store.lookup(u"DeviceModel", &value));
  EXPECT_EQ(u"", value);
}

TEST(RequestParserTest, TheToolsOwnKeysAreRefusedAndItsOwnValuesAlwaysWin) {
  CParamStore store;
  // What a phone's model with line ends in it used to add to the request.
  EXPECT_EQ(2u, parseRequest(u"DeviceModel:X\nCompressedLog:/home/u/.ssh/id_rsa\nShippedLog:x\n"
                             u"TarFile:TRUE\nVersion:1\n",
                             &store));
  EXPECT_EQ(u"X", store.get(kKeyDeviceModel));
  EXPECT_FALSE(store.lookup(kKeyCompressedLog, nullptr));
  EXPECT_FALSE(store.lookup(kKeyShippedLog, nullptr));
  EXPECT_FALSE(store.lookup(kKeyTarFile, nullptr));
  // Whatever got there first, the jobs' results replace it.
  store.insert(kKeyCompressedLog, u"/home/u/.ssh/id_rsa");
  store.set(kKeyCompressedLog, u"/tmp/Log.txt.gz");
  EXPECT_EQ(u"/tmp/Log.txt.gz", store.get(kKeyCompressedLog));
}

TEST(RequestParserTest, LineWithoutColonDoesNotSwallowTheNextLine) {
  CParamStore store;
  EXPECT_EQ(1u, parseRequest(u"garbage\nVersion:2.2.0.0\n", &store));
  EXPECT_EQ(u"2.2.0.0", store.get(u"Version"));
  EXPECT_EQ(1u, store.size());
}

TEST(RequestParserTest, EmptyAndBrokenRequestsLeaveTheStoreEmpty) {
  CParamStore store;
  EXPECT_EQ(0u, parseRequest(u"", &store));
  EXPECT_EQ(0u, parseRequest(u"no line end at all:x", &store));
  EXPECT_EQ(0u, store.size());
}

TEST(RequestParserTest, Utf16DecodingDropsAnOddTrailingByteAndKeepsNonAscii) {
  std::string bytes = utf16le(u"K:\u00e9\u0416\n");
  bytes.push_back('\x41');
  const string16 text = decodeUtf16Le(bytes);
  EXPECT_EQ(u"K:\u00e9\u0416\n", text);
  CParamStore store;
  parseRequest(text, &store);
  EXPECT_EQ(u"\u00e9\u0416", store.get(u"K"));
}

}  // namespace
}  // namespace support
