#include "platform/foundation/JSONCoding.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

struct Sample {
  static constexpr std::string_view reflectingName = "Tests.Sample";
  URL url;
  std::optional<std::string> note;
  uint32_t count = 0;

  json::Value encodeJSON() const {
    json::Value object = {{"url", json::encode(url)}, {"count", count}};
    if (note) {
      object["note"] = *note;
    }
    return object;
  }
  static Sample decodeJSON(const json::Decoder& decoder) {
    return {decoder.decode<URL>("url"), decoder.decodeIfPresent<std::string>("note"),
            decoder.decode<uint32_t>("count")};
  }
};

DecodingError::Kind decodingFailureKind(std::string_view text) {
  try {
    sharedJSONDecoder().decode<Sample>(text);
  } catch (const DecodingError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "decoded: " << text;
  return DecodingError::Kind::dataCorrupted;
}

TEST(JSONWriter, WritesCompactSortedKeysAndEscapesSlash) {
  json::Value value = {{"zeta", 1}, {"alpha", "a/b\"c\\d\n\x01"}, {"mid", {true, false, nullptr}}};
  EXPECT_EQ(json::write(value),
            R"({"alpha":"a\/b\"c\\d\n\u0001","mid":[true,false,null],"zeta":1})");
}

// Plain text is passed over eight bytes at a time; an escape at any offset is still written.
TEST(JSONWriter, EscapesAtEveryOffsetOfALongString) {
  for (const char special : {'/', '"', '\\', '\n', '\x01', '\x1f'}) {
    for (size_t offset = 0; offset < 24; ++offset) {
      std::string text(24, 'a');
      text[offset] = special;
      text += "\xC3\xA9 tail beyond the last whole word";
      std::string expected = "\"";
      for (const char c : text) {
        switch (c) {
        case '/':
          expected += "\\/";
          break;
        case '"':
          expected += "\\\"";
          break;
        case '\\':
          expected += "\\\\";
          break;
        case '\n':
          expected += "\\n";
          break;
        case '\x01':
          expected += "\\u0001";
          break;
        case '\x1f':
          expected += "\\u001f";
          break;
        default:
          expected += c;
        }
      }
      expected += "\"";
      EXPECT_EQ(json::write(json::Value(text)), expected) << "offset " << offset;
      EXPECT_EQ(json::parse(expected), json::Value(text));
    }
  }
}

TEST(JSONWriter, WritesNumbersInShortestForm) {
  EXPECT_EQ(json::write(json::Value(1.0)), "1");
  EXPECT_EQ(json::write(json::Value(0.1)), "0.1");
  EXPECT_EQ(json::write(json::Value(uint64_t{18446744073709551615ULL})), "18446744073709551615");
  EXPECT_EQ(json::write(json::Value(int64_t{-7})), "-7");
  EXPECT_THROW(json::write(json::Value(std::numeric_limits<double>::infinity())), EncodingError);
}

TEST(JSONWriter, KeepsNonASCIITextAsUTF8) {
  EXPECT_EQ(json::write(json::Value("Grüße")), "\"Grüße\"");
}

TEST(JSONCoding, RoundTripsARecordAndOmitsAbsentOptionals) {
  Sample sample{URL::fileURLWithPath("/tmp/a b"), std::nullopt, 3};
  std::string bytes = sharedJSONEncoder().encode(sample);
  EXPECT_EQ(bytes, R"({"count":3,"url":"file:\/\/\/tmp\/a%20b"})");
  Sample back = sharedJSONDecoder().decode<Sample>(bytes);
  EXPECT_EQ(back.url, sample.url);
  EXPECT_FALSE(back.note.has_value());
}

TEST(JSONCoding, ReportsTheKindOfEachFailure) {
  using Kind = DecodingError::Kind;
  EXPECT_EQ(decodingFailureKind("not json"), Kind::dataCorrupted);
  EXPECT_EQ(decodingFailureKind(R"({"count":1})"), Kind::keyNotFound);
  EXPECT_EQ(decodingFailureKind(R"({"url":null,"count":1})"), Kind::valueNotFound);
  EXPECT_EQ(decodingFailureKind(R"({"url":5,"count":1})"), Kind::typeMismatch);
  EXPECT_EQ(decodingFailureKind(R"({"url":"a b","count":1})"), Kind::dataCorrupted);
  EXPECT_EQ(decodingFailureKind(R"({"url":"file:\/\/\/x","count":4294967296})"),
            Kind::dataCorrupted);
  EXPECT_EQ(decodingFailureKind(R"({"url":"file:\/\/\/x","count":-1})"), Kind::dataCorrupted);
  EXPECT_EQ(decodingFailureKind("[1,2]"), Kind::typeMismatch);
  EXPECT_EQ(decodingFailureKind("\"\xff\""), Kind::dataCorrupted);
}

TEST(JSONCoding, FailureCarriesTheCodingPathAndPlatformDescription) {
  try {
    sharedJSONDecoder().decode<Sample>(R"({"url":"file:\/\/\/x","count":"3"})");
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.codingPath(), std::vector<std::string>{"count"});
    EXPECT_EQ(error.localizedDescription(),
              "The data couldn’t be read because it isn’t in the correct format.");
  }
  try {
    sharedJSONDecoder().decode<Sample>(R"({"count":3})");
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.localizedDescription(), "The data couldn’t be read because it is missing.");
  }
}

TEST(JSONParse, RefusesDeepNestingWithoutRecursing) {
  std::string deep(100000, '[');
  EXPECT_THROW(json::parse(deep), DecodingError);
  std::string fine = std::string(100, '[') + std::string(100, ']');
  EXPECT_NO_THROW(json::parse(fine));
  // Brackets inside strings do not count.
  EXPECT_NO_THROW(json::parse("\"" + std::string(2000, '[') + "\""));
}

// Long strings take a faster path than the parser's own; what they parse to must not change.
TEST(JSONParse, LongStringsParseAsTheParserWouldAndStayValidated) {
  const std::string base64Like = [] {
    std::string text;
    for (int i = 0; i < 3000; ++i) {
      text += "ab+/";
    }
    return text;
  }();
  const json::Value original = {{"payload", base64Like},
                                {"list", {base64Like + "\"quoted\\ \n\t\b\f\r", "short"}},
                                {"number", 7}};
  const std::string written = json::write(original); // writes "/" as "\/"
  EXPECT_EQ(json::parse(written), original);
  EXPECT_EQ(json::parse(" [ " + json::write(json::Value(base64Like)) + " , 1 ] "),
            json::Value::array({base64Like, 1}));

  // Escapes and bytes that the fast path leaves to the parser still come out right.
  const std::string accented = std::string(5000, 'e') + "\xC3\xA9";
  EXPECT_EQ(json::parse(json::write(json::Value(accented))), json::Value(accented));
  const std::string unicodeEscaped = "\"" + std::string(5000, 'x') + "\\u00e9\\ud83d\\ude00\"";
  EXPECT_EQ(json::parse(unicodeEscaped).get<std::string>(),
            std::string(5000, 'x') + "\xC3\xA9\xF0\x9F\x98\x80");
  // A long key stays a key, and a document that holds an escaped NUL of its own parses whole.
  const std::string longKey(5000, 'k');
  EXPECT_EQ(json::parse("{\"" + longKey + "\":1}"), (json::Value{{longKey, 1}}));
  const json::Value withNul = {{"nul", std::string("\0x", 2)}, {"long", base64Like}};
  EXPECT_EQ(json::parse(json::write(withNul)), withNul);

  // Still refused: invalid UTF-8, raw control characters, bad escapes, broken documents.
  const std::string filler(5000, 'z');
  EXPECT_THROW(json::parse("\"" + filler + "\xC3\x28\""), DecodingError);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (const char* bad : {"\x01", "\x1f", "\xC3\x28", "\xFF"}) {
      std::string text = filler;
      text.insert(offset, bad);
      EXPECT_THROW(json::parse("\"" + text + "\""), DecodingError) << offset;
    }
  }
  EXPECT_THROW(json::parse("\"" + filler + "\\x\""), DecodingError);
  EXPECT_THROW(json::parse("[\"" + filler + "\""), DecodingError);
  EXPECT_THROW(json::parse("{\"a\" \"" + filler + "\"}"), DecodingError);
  EXPECT_THROW(json::parse("\"" + filler), DecodingError);
}

TEST(JSONCoding, DatesAreSecondsSinceTheReferenceDate) {
  Date date = Date::fromTimeIntervalSince1970(978307200.5);
  EXPECT_EQ(json::write(json::encode(date)), "0.5");
}

} // namespace
} // namespace platform
