// The catalogue's INI reader: the private-profile reading rules the catalogue depends on.
#include "online/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>

using namespace crenovix;

namespace {

std::string Get(const std::string& text, const std::string& section, const std::string& key,
                const std::string& fallback = "<default>") {
    return ParseIniText(text)->GetString(section, key, fallback);
}

int GetInt(const std::string& value, int fallback = -7) {
    return ParseIniText("[S]\nN=" + value + "\n")->GetInt("S", "N", fallback);
}

TEST(IniFile, SectionAndKeyNamesIgnoreLetterCase) {
    const std::string text = "[file LIST]\ncountex=3\nTYPE0=Charger\n";
    EXPECT_EQ(ParseIniText(text)->GetInt("File List", "CountEx", 0), 3);
    EXPECT_EQ(Get(text, "FILE list", "Type0"), "Charger");
    EXPECT_EQ(Get(text, "File List", "Type1"), "<default>");
    EXPECT_EQ(Get(text, "Software", "Type0"), "<default>");
}

TEST(IniFile, BlanksAroundNamesAndValuesDoNotCount) {
    const std::string text = "  [ Software ]  \r\n  Ver \t=  V2.5 \t\r\nURL=http://h/?a=b\r\n";
    EXPECT_EQ(Get(text, "Software", "Ver"), "V2.5");
    EXPECT_EQ(Get(text, "Software", "URL"), "http://h/?a=b"); // only the first "=" separates
}

TEST(IniFile, MatchingQuotesAroundAValueAreRemoved) {
    const std::string text = "[S]\n"
                             "double=\"two words\"\n"
                             "single='x'\n"
                             "mixed=\"x'\n"
                             "open=\"x\n"
                             "lone=\"\n"
                             "empty=\"\"\n"
                             "inner=a \"b\" c\n";
    EXPECT_EQ(Get(text, "S", "double"), "two words");
    EXPECT_EQ(Get(text, "S", "single"), "x");
    EXPECT_EQ(Get(text, "S", "mixed"), "\"x'");
    EXPECT_EQ(Get(text, "S", "open"), "\"x");
    EXPECT_EQ(Get(text, "S", "lone"), "\"");
    EXPECT_EQ(Get(text, "S", "empty"), "");
    EXPECT_EQ(Get(text, "S", "inner"), "a \"b\" c");
}

TEST(IniFile, ValuesAreCutTo124Characters) {
    const std::string v124(124, 'a');
    const std::string v125 = v124 + "b";
    const std::string text =
        "[S]\nexact=" + v124 + "\nlonger=" + v125 + "\nquoted=\"" + v124 + "zz\"\n";
    EXPECT_EQ(Get(text, "S", "exact"), v124);
    EXPECT_EQ(Get(text, "S", "longer"), v124);
    EXPECT_EQ(Get(text, "S", "quoted"), v124); // quotes go first, then the cut
    EXPECT_EQ(ParseIniText("")->GetString("S", "k", v125), v124);
    EXPECT_EQ(ParseIniText(text)->GetString("S", "longer", "", 5), "aaaa");
}

// UTF-8 stays UTF-8 and is never cut inside a character; anything else is Windows-1252.
TEST(IniFile, TextIsUtf8OrWindows1252) {
    const std::string a123(123, 'a');
    const std::string euro = "\xE2\x82\xAC"; // U+20AC in UTF-8
    const std::string text = "[S]\nsplit=" + a123 + euro + "\nwhole=" + a123.substr(2) + euro +
                             "\nlatin=Gr\xFC\xDF \x80\x93 \x81\nbroken=" + a123 + "\xE2\x82" +
                             "\nsurrogate=\xED\xA0\x80\noverlong=\xC0\xAF\n";
    EXPECT_EQ(Get(text, "S", "split"), a123);
    EXPECT_EQ(Get(text, "S", "whole"), a123.substr(2) + euro);
    EXPECT_EQ(Get(text, "S", "latin"), "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\xE2\x80\x9C \xC2\x81");
    // A value that is not UTF-8 as a whole is Windows-1252, also where its cut part would be.
    EXPECT_EQ(Get(text, "S", "broken"), a123 + "\xC3\xA2");
    EXPECT_EQ(Get(text, "S", "surrogate"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
    EXPECT_EQ(Get(text, "S", "overlong"), "\xC3\x80\xC2\xAF");
}

TEST(IniFile, AnEmptyValueIsNotAMissingOne) {
    EXPECT_EQ(Get("[Software]\nVer=\n", "Software", "Ver", "V1.0"), "");
    EXPECT_EQ(Get("[Software]\nVersion=V3\n", "Software", "Ver", "V1.0"), "V1.0");
}

TEST(IniFile, FirstSectionAndFirstKeyOfANameCount) {
    const std::string text = "orphan=1\n"
                             "; Ver=V9.9\n"
                             "[Software]\n"
                             "Ver=V2.2\n"
                             "ver=V3.3\n"
                             "no equals sign here\n"
                             "[Other]\n"
                             "[software]\n"
                             "URL=http://late\n";
    EXPECT_EQ(Get(text, "Software", "Ver"), "V2.2");
    EXPECT_EQ(Get(text, "Software", "URL"), "<default>");
    EXPECT_EQ(Get(text, "", "orphan"), "<default>");
}

TEST(IniFile, IntegersReadTheirLeadingDecimalDigits) {
    EXPECT_EQ(GetInt("3"), 3);
    EXPECT_EQ(GetInt("124"), 124);
    EXPECT_EQ(GetInt("12abc"), 12);
    EXPECT_EQ(GetInt(" +7 "), 7);
    EXPECT_EQ(GetInt("\"5\""), 5);
    EXPECT_EQ(GetInt("0x10"), 0);
    EXPECT_EQ(GetInt("99999999999"), INT_MAX);
}

TEST(IniFile, IntegersMissingOrNotNumericGiveTheDefaultAndNegativeOnesZero) {
    EXPECT_EQ(GetInt("abc"), -7);
    EXPECT_EQ(GetInt(""), -7);
    EXPECT_EQ(GetInt("-"), -7);
    EXPECT_EQ(GetInt("-1"), 0);
    EXPECT_EQ(GetInt("-125"), 0);
    EXPECT_EQ(ParseIniText("[S]\n")->GetInt("S", "N", 11), 11);
}

TEST(IniFile, FilesAreReadWithTheirLineEndsAndByteOrderMark) {
    testsupport::CTempDir dir;
    const std::string path = dir.File("catalogue.ini");
    std::ofstream(path, std::ios::binary) << "\xEF\xBB\xBF[File List]\r\nCountEx=2\r\n";
    CIniFileReader reader;
    EXPECT_EQ(reader.Open(path)->GetInt("File List", "CountEx", 0), 2);
    EXPECT_EQ(reader.Open(dir.File("missing.ini"))->GetInt("File List", "CountEx", 0), 0);
    EXPECT_EQ(reader.Open(dir.File("missing.ini"))->GetString("Software", "Ver", "V1.0"), "V1.0");
}

TEST(IniFile, FilesAreReadUpToOneMebibyte) {
    testsupport::CTempDir dir;
    const std::string path = dir.File("large.ini");
    {
        std::ofstream out(path, std::ios::binary);
        out << "[Software]\nVer=V9.9\n;" << std::string(1024 * 1024, 'x') << "\n[Late]\nKey=1\n";
    }
    CIniFileReader reader;
    const auto ini = reader.Open(path);
    EXPECT_EQ(ini->GetString("Software", "Ver", ""), "V9.9") << "read across many chunks";
    EXPECT_EQ(ini->GetInt("Late", "Key", 0), 0) << "nothing past the limit is read";
}

} // namespace
