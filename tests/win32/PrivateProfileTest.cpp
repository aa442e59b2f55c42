// The system's private-profile reading of catalogues against our own INI reader: the same
// lookups on the same files must give the same answers, since the Windows program reads the
// catalogue with the system and the Linux one with ours.
#include "online/Catalogue.h"
#include "online/IniFile.h"
#include "online/win32/PrivateProfileReader.h"
#include "support/CurrentDirectory.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace crenovix {
namespace {

struct SProbe {
    std::string section;
    std::string key;
};

// The catalogue's lookups, in other letter cases, and names that are not there.
std::vector<SProbe> CatalogueProbes() {
    std::vector<SProbe> probes{{"Software", "Ver"},      {"SOFTWARE", "ver"},
                               {"Software", "URL"},      {"File List", "CountEx"},
                               {"file list", "COUNTEX"}, {"Software", "Missing"},
                               {"No Section", "Ver"},    {"S", "k"}};
    for (int entry = 0; entry < 3; ++entry) {
        for (const char* name : {"Type", "FileName", "Ver", "Updated", "URL", "Note", "Release",
                                 "ReleaseURL", "N", "Q", "U", "V"}) {
            probes.push_back({"File List", name + std::to_string(entry)});
            probes.push_back({"S", name + std::to_string(entry)});
        }
    }
    return probes;
}

// Every disagreement between the two readers on `path`, one line each.
std::vector<std::string> Disagreements(const std::string& path) {
    CIniFileReader ours;
    CPrivateProfileReader system;
    const std::unique_ptr<IIniSource> a = ours.Open(path);
    const std::unique_ptr<IIniSource> b = system.Open(path);
    std::vector<std::string> found;
    const std::string longDefault(130, 'd');
    for (const SProbe& probe : CatalogueProbes()) {
        const std::string where = "[" + probe.section + "] " + probe.key + ": ";
        for (const std::string& fallback : {std::string("V1.0"), std::string(), longDefault}) {
            for (const std::size_t buffer : {kIniValueBufferBytes, std::size_t{8}}) {
                // Ours gives UTF-8, the front end's readers the ANSI code page.
                const std::string ourText =
                    Utf8ToAnsi(a->GetString(probe.section, probe.key, fallback, buffer));
                const std::string systemText =
                    b->GetString(probe.section, probe.key, fallback, buffer);
                if (ourText != systemText) {
                    found.push_back(where + "buffer " + std::to_string(buffer) + ": ours \"" +
                                    ourText + "\", system \"" + systemText + "\"");
                }
            }
        }
        // The catalogue's one number, "CountEx", is read with the default 0.
        const int ourNumber = a->GetInt(probe.section, probe.key, 0);
        const int systemNumber = b->GetInt(probe.section, probe.key, 0);
        if (ourNumber != systemNumber) {
            found.push_back(where + "ours " + std::to_string(ourNumber) + ", system " +
                            std::to_string(systemNumber));
        }
    }
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

TEST(PrivateProfile, SampleCataloguesReadAlike) {
    const std::filesystem::path corpus = CRENOVIX_CATALOGUE_CORPUS;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        ++files;
        const std::vector<std::string> found = Disagreements(entry.path().string());
        EXPECT_TRUE(found.empty()) << entry.path().filename().string() << ":\n" << Joined(found);
    }
    EXPECT_GE(files, 5);
}

// Quotes, blanks, letter case, the cut at 124 characters, UTF-8 and Windows-1252 text, repeated
// names, comments and the integer forms the catalogue's "CountEx" may take.
TEST(PrivateProfile, EdgesOfTheFormatReadAlike) {
    const std::string v124(124, 'a');
    const std::vector<std::string> catalogues{
        "[S]\nQ0=\"two words\"\nQ1='x'\nQ2=\"x'\nN0=\"\"\nN1=a \"b\" c\nN2=\"\n",
        "[S]\nV0=" + v124 + "\nV1=" + v124 + "b\nV2=\"" + v124 + "zz\"\nQ0=\"" + v124.substr(1) +
            "\"\n",
        "  [ Software ]  \r\n  Ver \t=  V2.5 \t\r\nURL=http://h/?a=b\r\n",
        "[Software]\nVer=V2.2\nver=V3.3\n; URL=commented\n[Other]\nk=1\n[software]\nURL=late\n",
        "[File List]\nCountEx=3\n[S]\nN0=12abc\nN1= +7 \nN2=124\n",
        "[File List]\nCountEx=\n[S]\nN0=-\nN1=\"5\"\n",
        "[Software]\nVer=\nURL\n[File List]\nType0=\tPadded\t\n",
        "[File List]\nCountEx=4294967297\n[S]\nN0=-1\nN1=2147483648\nN2=\"99999999999999999999\"\n",
        "[S]\nU0=" + v124.substr(1) + "\xE2\x82\xAC\nU1=Gr\xFC\xDF \x80\x93\nU2=" + v124 +
            "\xC3\xA9\xC3\n",
    };
    testsupport::CTempDir dir;
    for (std::size_t i = 0; i < catalogues.size(); ++i) {
        const std::string path = dir.File("edge" + std::to_string(i) + ".ini");
        std::ofstream(path, std::ios::binary) << catalogues[i];
        const std::vector<std::string> found = Disagreements(path);
        EXPECT_TRUE(found.empty()) << "catalogue " << i << ":\n" << Joined(found);
    }
}

// The system looks for a name without a folder in the Windows folder; our reader takes it from
// the current directory, as a relative path.
TEST(PrivateProfile, ABareNameIsReadFromTheCurrentDirectory) {
    testsupport::CTempDir dir;
    std::ofstream(dir.File("catalogue.ini"), std::ios::binary)
        << "[Software]\nVer=V3.0\n[File List]\nCountEx=7\n";
    const testsupport::CCurrentDirectory inside(dir.Path());
    CPrivateProfileReader reader;
    const std::unique_ptr<IIniSource> catalogue = reader.Open("catalogue.ini");
    EXPECT_EQ(catalogue->GetString("Software", "Ver", "V1.0"), "V3.0");
    EXPECT_EQ(catalogue->GetInt("File List", "CountEx", 0), 7);
    EXPECT_EQ(reader.Open("")->GetString("Software", "Ver", "V1.0"), "V1.0");
    EXPECT_EQ(reader.Open("missing.ini")->GetInt("File List", "CountEx", 0), 0);
}

} // namespace
} // namespace crenovix
