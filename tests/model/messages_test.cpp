#include "model/messages.h"

#include <gtest/gtest.h>

#include "bilingual_check.h"

namespace km27 {
namespace {

TEST(Messages, EveryIdentifierHasBothLanguagesWithTheSamePlaceholders) {
  std::vector<std::string> problems;
  for (int i = 0; i < int(Msg::kCount); ++i) {
    for (auto& p : test::BilingualProblems(MessageName(Msg(i)), MessageEntry(Msg(i)))) problems.push_back(p);
  }
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(Messages, PlaceholdersTakeTheirValuesInTheLanguagesOrder) {
  EXPECT_EQ(FormatMessage("{2} of {1}", {"a", 7}), "7 of a");
  EXPECT_EQ(FormatMessage("{1}{1}", {"x"}), "xx");
  // A missing value shows as its placeholder; a doubled brace is a brace.
  EXPECT_EQ(FormatMessage("{1} {2}", {"x"}), "x {2}");
  EXPECT_EQ(FormatMessage("{{1} {1}", {"x"}), "{1} x");
  EXPECT_EQ(PlaceholdersOf("{{1} {3} {1}"), (1u << 3) | (1u << 1));
}

TEST(Messages, TheLocaleChoosesEnglishOnlyForAnEnglishLocale) {
  struct Case {
    const char *all, *messages, *lang;
    Language want;
  } cases[] = {
      {nullptr, nullptr, nullptr, Language::kChinese},
      {nullptr, nullptr, "C", Language::kChinese},
      {nullptr, nullptr, "C.UTF-8", Language::kChinese},
      {nullptr, nullptr, "zh_CN.UTF-8", Language::kChinese},
      {nullptr, nullptr, "en_US.UTF-8", Language::kEnglish},
      {nullptr, nullptr, "en", Language::kEnglish},
      {nullptr, nullptr, "eo", Language::kChinese},
      {"", "en_GB.UTF-8", "zh_CN.UTF-8", Language::kEnglish},     // an empty variable is unset
      {"zh_CN.UTF-8", "en_GB.UTF-8", "en_GB.UTF-8", Language::kChinese},  // LC_ALL rules
      {nullptr, "C", "en_US.UTF-8", Language::kChinese},           // then LC_MESSAGES
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LanguageOfLocale(c.all, c.messages, c.lang), c.want)
        << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " " << (c.lang ? c.lang : "-");
  }
  EXPECT_EQ(ParseLanguage("en"), Language::kEnglish);
  EXPECT_EQ(ParseLanguage("zh"), Language::kChinese);
  EXPECT_FALSE(ParseLanguage("EN").has_value());
}

}  // namespace
}  // namespace km27
