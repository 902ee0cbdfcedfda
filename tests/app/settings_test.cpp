#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/atomic_file.h"
#include "common/error.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

OutputSettings FromText(const std::string& text) {
  return ReadSettings(IniFile::Parse(text), "/opt/kestrova/");
}

TEST(Settings, ProfileRules) {
  const OutputSettings s = FromText(
      "; hand-written\r\n[wrtbase]\r\nSCALE = 250\r\nGroup=0x0A\r\nmmFlg=1\r\nSize=99\r\n"
      "[Point]\r\nOutFlg=5\r\nLay=65537\r\nLColor=\"3\"\r\nEnkoR=abc\r\nCode=x\r\n"
      "[PointStr]\r\nMojiBs=0\r\nMojiNo=11\r\n[XYcoord]\r\nMojiBs=12\r\nMojiNo=0\r\n"
      "[Zcoord]\r\nLay=20\r\n");
  EXPECT_EQ(s.WrtBAse.Scale, 250.0);
  EXPECT_EQ(s.WrtBAse.Group, 10u);
  EXPECT_EQ(s.WrtBAse.Size, 14);                                 // Jw_cad's last paper code
  EXPECT_EQ(FromText("[WrtBAse]\nSize=12\n").WrtBAse.Size, 12);  // no entry of the list, kept
  EXPECT_TRUE(s.WrtBAse.mmFlg);
  EXPECT_TRUE(s.Point.OutFlg);
  EXPECT_EQ(s.Point.Lay, 1);  // low 16 bits
  EXPECT_EQ(s.Point.LColor, 3);
  EXPECT_EQ(s.Point.EnkoR, 1.0);
  EXPECT_EQ(s.Point.Code, 0);
  EXPECT_EQ(s.PointStr.MojiBs, 1);  // brought to the nearest valid value
  EXPECT_EQ(s.PointStr.MojiNo, 10u);
  EXPECT_EQ(s.XYcoord.MojiBs, 9);
  EXPECT_EQ(s.XYcoord.MojiNo, 1u);
  EXPECT_EQ(s.Zcoord.Lay, 15);
  EXPECT_EQ(FromText("[WrtBAse]\nScale=abc\n").WrtBAse.Scale, 500.0);
  // Without a file the folder to start from is the program's.
  EXPECT_EQ(FromText("").Folder.name, "/opt/kestrova/");
  // Without point output no point carries the code.
  EXPECT_FALSE(FromText("[Point]\nOutFlg=0\nCodeFlg=1\n").Point.CodeFlg);
}

TEST(Settings, WritingKeepsWhatTheUserAdded) {
  IniFile ini = IniFile::Parse(
      "; my notes\r\n[WrtBase]\r\nScale=250\r\nMyKey=keep\r\n\r\n[Other]\r\nx=1\r\n");
  OutputSettings s = ReadSettings(ini, "/opt/");
  s.WrtBAse.Scale = 123.25;
  s.PointStr.OutFlg = false;
  s.Folder.name = "C:\\JWW\\";
  WriteSettings(s, ini);
  const std::string text = ini.Text();
  EXPECT_NE(text.find("; my notes\r\n[WrtBAse]\r\nScale=123.25\r\nMyKey=keep\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[Other]\r\nx=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("[PointStr]\r\nLay=2\r\nMojiNo=3\r\nMojiCl=2\r\nMojiBs=1\r\nOutFlg=0\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("WrtBase"), std::string::npos);
  for (const char* section : {"[Point]", "[XYcoord]", "[Zcoord]", "[Coordinate]", "[Folder]"}) {
    EXPECT_NE(text.find(section), std::string::npos) << section;
  }
  const OutputSettings back = ReadSettings(IniFile::Parse(text), "/opt/");
  EXPECT_EQ(back.WrtBAse.Scale, 123.25);
  EXPECT_FALSE(back.PointStr.OutFlg);
  EXPECT_EQ(back.Folder.name, "C:\\JWW\\");
}

TEST(Settings, FolderNamesSurviveTheProfileRules) {
  for (const std::string name : {" /home/a b ", "\"quoted\"", "'x'", "plain", ""}) {
    OutputSettings s;
    s.Folder.name = name;
    IniFile ini;
    WriteSettings(s, ini);
    EXPECT_EQ(ReadSettings(IniFile::Parse(ini.Text()), "/opt/").Folder.name, name);
  }
  // A folder written in code page 932 by another program or a Japanese Notepad.
  EXPECT_EQ(ReadSettings(IniFile::Parse("[Folder]\r\nname=C:\\\x8c\xbb\x8f\xea "
                                        "\x83\x66\x81\x5b\x83\x5e\\\r\n"),
                         "/opt/")
                .Folder.name,
            "C:\\現場 データ\\");
}

TEST(Settings, TheGisAndWindowSectionsAppearOnlyOnceKnown) {
  // A file written before anyone exported to GIS or closed the window is written back
  // byte for byte.
  IniFile ini;
  WriteSettings(FromText(""), ini);
  const std::string before = ini.Text();
  EXPECT_EQ(before.find("[Gis]"), std::string::npos);
  EXPECT_EQ(before.find("[Window]"), std::string::npos);
  OutputSettings s = ReadSettings(IniFile::Parse(before), "/opt/kestrova/");
  EXPECT_EQ(s.Gis.Crs, "");
  IniFile again = IniFile::Parse(before);
  WriteSettings(s, again);
  EXPECT_EQ(again.Text(), before);

  s.Gis.Crs = "EPSG:6677";
  s.Gis.Format = "gpkg";
  WriteSettings(s, again);
  EXPECT_EQ(again.Text(), before + "\r\n[Gis]\r\nCrs=EPSG:6677\r\nFormat=gpkg\r\n");
  const OutputSettings back = ReadSettings(again, "/opt/");
  EXPECT_EQ(back.Gis.Crs, "EPSG:6677");
  EXPECT_EQ(back.Gis.Format, "gpkg");
  // Once there, a cleared choice stays as an empty key rather than an old value.
  s.Gis.Crs.clear();
  WriteSettings(s, again);
  EXPECT_EQ(ReadSettings(again, "/opt/").Gis.Crs, "");

  // The window's place, in a section of its own after the others.
  const std::string withGis = again.Text();
  s.Window = {-8, 40, 1200, 800, 500, true};
  WriteSettings(s, again);
  EXPECT_EQ(again.Text(), withGis +
                              "\r\n[Window]\r\nLeft=-8\r\nTop=40\r\nWidth=1200\r\nHeight=800\r\n"
                              "GridWidth=500\r\nMaximized=1\r\n");
  const auto place = UsableWindowPlace(ReadSettings(again, "/opt/").Window);
  ASSERT_TRUE(place);
  EXPECT_EQ(place->Left, -8);
  EXPECT_EQ(place->Width, 1200);
  EXPECT_EQ(place->GridWidth, 500);
  EXPECT_TRUE(place->Maximized);
  // Never recorded, or a hand edit out of reach: the window opens as it always did; a
  // splitter past the window leaves the plot its room.
  EXPECT_FALSE(UsableWindowPlace(OutputSettings::WindowSection{}));
  EXPECT_FALSE(UsableWindowPlace({0, 0, 50, 800, 0, false}));
  EXPECT_FALSE(UsableWindowPlace({0, 999999, 800, 600, 0, false}));
  EXPECT_EQ(UsableWindowPlace({0, 0, 800, 600, 5000, false})->GridWidth, 760);
}

TEST(Settings, FileLocation) {
  const fs::path dir = fs::temp_directory_path() / "kestrova-settings-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "bin");
  // One name whatever the program file is called.
  EXPECT_EQ(SettingsFilePath(dir / "bin" / "kestrova"), dir / "bin" / "Kestrova.INI");
#ifdef _WIN32
  // A folder that takes no files sends the settings to the roaming profile.
  const wchar_t* appData = _wgetenv(L"APPDATA");
  ASSERT_NE(appData, nullptr);
  EXPECT_EQ(SettingsFilePath(dir / "missing" / "kestrova.exe"),
            fs::path(appData) / "Kestrova" / "Kestrova.INI");
#else
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  EXPECT_EQ(SettingsFilePath(dir / "missing" / "kestrova"),
            dir / "config" / "Kestrova" / "Kestrova.INI");
  // An installed program never writes into the system's program folders, though the
  // administrator could.
  EXPECT_EQ(SettingsFilePath("/usr/bin/kestrova"), dir / "config" / "Kestrova" / "Kestrova.INI");
  EXPECT_EQ(SettingsFilePath("/usr/local/bin/kestrova"),
            dir / "config" / "Kestrova" / "Kestrova.INI");
  ::unsetenv("XDG_CONFIG_HOME");
#endif
  // Written into a folder that does not exist yet, then read back.
  const fs::path file = dir / "config" / "Kestrova" / "Kestrova.INI";
  OutputSettings s;
  s.WrtBAse.Scale = 250;
  WriteSettingsFile(s, file);
  EXPECT_EQ(ReadSettingsFile(file, "").WrtBAse.Scale, 250.0);
  EXPECT_EQ(ReadSettingsFile(dir / "none.INI", "").WrtBAse.Scale, 500.0);
  // The name earlier versions wrote beside the program is read while Kestrova.INI is not
  // there yet, and only then.
  WriteSettingsFile(s, dir / "bin" / "kestrova.INI");
  EXPECT_EQ(ReadSettingsFile(dir / "bin" / "Kestrova.INI", "").WrtBAse.Scale, 250.0);
  EXPECT_EQ(ReadSettingsFile(dir / "bin" / "other.INI", "").WrtBAse.Scale, 500.0);
  WriteSettingsFile(OutputSettings{}, dir / "bin" / "Kestrova.INI");
  EXPECT_EQ(ReadSettingsFile(dir / "bin" / "Kestrova.INI", "").WrtBAse.Scale, 500.0);
  fs::remove_all(dir);
}

TEST(Settings, FilesThatAreNoSettingsAndValuesThatAreNoNumbers) {
  const fs::path dir = fs::temp_directory_path() / "kestrova-settings-kinds-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto write = [&](const std::string& name, const std::string& bytes) {
    WriteFileAtomic(dir / name, bytes);
    return dir / name;
  };
  const std::string ini = "[WrtBAse]\r\nScale=250\r\n";
  std::string utf16;
  for (char c : ini)
    utf16 += std::string{c, '\0'};
  // UTF-16 with its byte-order mark is text; without it, a drawing and random bytes are
  // not, and nothing replaces them at the next close either.
  EXPECT_EQ(ReadSettingsFile(write("le.INI", "\xFF\xFE" + utf16), "").WrtBAse.Scale, 250.0);
  // UTF-8 with the mark an editor put before it is text too.
  EXPECT_EQ(ReadSettingsFile(write("u8.INI", "\xEF\xBB\xBF" + ini), "").WrtBAse.Scale, 250.0);
  EXPECT_EQ(
      ReadSettingsFile(
          write("be.INI", std::string("\xFE\xFF\0", 3) + utf16.substr(0, utf16.size() - 1)), "")
          .WrtBAse.Scale,
      250.0);
  std::string random;
  for (unsigned i = 0, x = 12345; i < 300; ++i, x = x * 1103515245 + 12345)
    random += static_cast<char>((x >> 16) | 0x80);  // no NUL among them
  for (const auto& [name, bytes] :
       {std::pair{"nobom.INI", utf16}, std::pair{"plan.INI", std::string("JwwData.\x01\x02", 10)},
        std::pair{"random.INI", random},
        std::pair{"text.INI", std::string("hello\r\nworld\r\n")}}) {
    const fs::path file = write(name, bytes);
    try {
      ReadSettingsFile(file, "");
      ADD_FAILURE() << name << " was read as settings";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), file.string() +
                                           ": this is not a settings file (an INI text file); "
                                           "nothing was read from it");
    }
    EXPECT_THROW(WriteSettingsFile(OutputSettings{}, file), Error) << name;
    EXPECT_EQ(ReadFileBytes(file), bytes) << name;
  }
  // Comments and blank lines alone are an empty settings file.
  EXPECT_EQ(ReadSettingsFile(write("empty.INI", "; none\r\n\r\n"), "").WrtBAse.Scale, 500.0);
  fs::remove_all(dir);

  // Values that do not convert keep the default, and the user hears which.
  for (const char* value : {"nan", "inf", "abc", "1e999", "250,5", "-inf"}) {
    std::vector<UnreadSetting> unread;
    const OutputSettings s =
        ReadSettings(IniFile::Parse(std::string("[WrtBAse]\r\nScale=") + value +
                                    "\r\n[Point]\r\nEnkoR=" + value + "\r\nLay=" + value + "\r\n"),
                     "", nullptr, &unread);
    EXPECT_EQ(s.WrtBAse.Scale, 500.0) << value;
    EXPECT_EQ(s.Point.EnkoR, 1.0) << value;
    EXPECT_EQ(
        UnreadSettingWarnings(unread, "K.INI", Language::kEnglish),
        (std::vector<std::string>{
            std::string("K.INI: [WrtBase] Scale=") + value +
                " is not a number; 500 is used instead",
            std::string("K.INI: [Point] Lay=") + value + " is not a number; 1 is used instead",
            std::string("K.INI: [Point] EnkoR=") + value + " is not a number; 1 is used instead"}));
  }
  std::vector<UnreadSetting> none;
  ReadSettings(IniFile::Parse("[WrtBAse]\r\nScale=\r\nSize= 3 \r\n"), "", nullptr, &none);
  EXPECT_TRUE(none.empty());  // an empty value is one left out
}

}  // namespace
}  // namespace kestrova
