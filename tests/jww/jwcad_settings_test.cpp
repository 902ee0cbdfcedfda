#include "jww/jwcad_settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/error.h"

namespace kestrova {
namespace {

const std::string kData = KESTROVA_SHARED_TESTDATA "/jwcad-settings/";

TEST(JwCadSettings, WineHiveAndRegeditExportGiveTheSameSettings) {
  JwCadSettingsMap wine = JwCadSettingsMap::FromRegFile(kData + "user.reg");
  JwCadSettingsMap exported = JwCadSettingsMap::FromRegFile(kData + "regedit-export.reg");
  JwwHeader a, b;
  JwCadExtras xa, xb;
  EXPECT_TRUE(ReadJwCadSettings(wine, a, xa));
  EXPECT_TRUE(ReadJwCadSettings(exported, b, xb));
  for (const JwwHeader* h : {&a, &b}) {
    EXPECT_EQ(h->GridMinimum, 15.0);
    EXPECT_EQ(h->GridIntervalX, 5.0);
    EXPECT_EQ(h->ShadeLatitude, 36.0);
    EXPECT_EQ(h->ShadeTenkor, 50.0);
    EXPECT_EQ(h->ParallelDistances[9], 10000.0);
    EXPECT_EQ(h->Pens[8].Color, 0xFF0080u);
    EXPECT_EQ(h->Pens[1].Color, 0xC0C0u);
    EXPECT_EQ(h->PrinterPens[8].Color, 0xFF0080u);
    EXPECT_EQ(h->PrinterPens[3].PointRadius, 0.2);
    EXPECT_EQ(h->LineTypes[0].Pattern, 0x99999999u);
    EXPECT_EQ(h->RandomLines[4].Pattern, 0xCCB2B32Au);
    EXPECT_EQ(h->DoubleLineTypes[3].PrinterPitch, 10u);
    EXPECT_EQ(h->TextKinds[1].Width, 2.5);
    EXPECT_EQ(h->TextKinds[9].Spacing, 1.0);
    EXPECT_EQ(h->TextKinds[9].Color, 5u);
    EXPECT_EQ(h->TextOffsetX[0], -1.0);
    EXPECT_EQ(h->TextOffsetX[2], 1.0);
    EXPECT_EQ(h->Switches[6], 1u);
  }
  EXPECT_EQ(xa.DrawOutLine, 1u);
  EXPECT_EQ(xb.DrawOutLine, 1u);
  EXPECT_EQ(xa.OutLineExpansion, 1.0);
  // The folder value with \x escapes, quotes and backslashes decodes the same in both.
  ASSERT_TRUE(wine.OpenKey("Settings"));
  ASSERT_TRUE(exported.OpenKey("settings"));
  const auto fw = wine.ReadValue("Folder");
  const auto fe = exported.ReadValue("FOLDER");
  ASSERT_TRUE(fw && fe);
  EXPECT_EQ(fw->text, "C:\\JWW\\データ \"現場\"");
  EXPECT_EQ(fe->text, fw->text);
  // Keys outside Jw_cad's are not taken.
  EXPECT_FALSE(wine.OpenKey("..\\..\\Wine\\Fonts"));
}

TEST(JwCadSettings, NotARegistryFile) {
  EXPECT_THROW(JwCadSettingsMap::FromRegText("hello\n", "x.reg"), Error);
  EXPECT_THROW(JwCadSettingsMap::FromRegText(
                   "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Jw_cad\\jw_win\\Mesh\n", "x.reg"),
               Error);
}

// A complete set of settings as Jw_cad keeps them, to take pieces away from.
class JwCadSettingsTest : public ::testing::Test {
 protected:
  JwCadSettingsMap s = JwCadSettingsMap::FromRegFile(kData + "user.reg");
  JwwHeader h;
  JwCadExtras x;
};

TEST_F(JwCadSettingsTest, MissingKeysAreSkipped) {
  JwCadSettingsMap none;
  EXPECT_FALSE(ReadJwCadSettings(none, h, x));
  EXPECT_EQ(h.GridMinimum, 0.0);
  EXPECT_EQ(h.TextOffsetX[0], 0.0);
  s.RemoveKey("Mesh");
  h.GridMinimum = 7;
  EXPECT_FALSE(ReadJwCadSettings(s, h, x));
  EXPECT_EQ(h.GridMinimum, 7.0);  // kept
  EXPECT_EQ(h.TextKinds[2].Width, 3.0);
}

TEST_F(JwCadSettingsTest, DefaultsForTextValues) {
  s.SetString("Mesh", "Minimum", "abc");
  s.RemoveValue("MOJI", "SizeY03");
  s.RemoveValue("MOJI", "SizeD07");
  s.RemoveValue("MOJI", "OfstX2");
  s.RemoveValue("MOJI", "OfstY3");
  s.SetString("MOJI", "DrawOutLine", "1");  // wrong type: its own guard gives 0
  s.SetDword("MOJI", "OutLineExpansion", 3);
  // Sizes no text can have: the defaults, which a transfer would otherwise hand on.
  s.SetString("MOJI", "SizeX04", "-3");
  s.SetString("MOJI", "SizeY04", "inf");
  s.SetString("MOJI", "SizeD04", "nan");
  s.SetString("MOJI", "SizeD05", "0");
  ReadJwCadSettings(s, h, x);
  EXPECT_EQ(h.TextKinds[3].Width, 4.0);
  EXPECT_EQ(h.TextKinds[3].Height, 4.0);
  EXPECT_EQ(h.TextKinds[3].Spacing, 0.4);
  EXPECT_EQ(h.TextKinds[4].Spacing, 0.0);
  EXPECT_EQ(h.GridMinimum, 15.0);
  EXPECT_EQ(h.TextKinds[2].Height, 3.0);
  EXPECT_EQ(h.TextKinds[6].Spacing, 0.7);
  EXPECT_EQ(h.TextOffsetX[1], 0.0);
  EXPECT_EQ(h.TextOffsetY[2], 1.0);
  EXPECT_EQ(x.DrawOutLine, 0u);
  EXPECT_EQ(x.OutLineExpansion, 0.0);
  EXPECT_EQ(h.Switches[6], 1u);  // and the reading went on to the printer key
}

TEST_F(JwCadSettingsTest, AMissingPenColourStopsTheReading) {
  s.RemoveValue("Pen", "Color05");
  try {
    ReadJwCadSettings(s, h, x);
    FAIL() << "a missing pen colour was accepted";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Pen\\Color05"), std::string::npos) << e.what();
  }
  EXPECT_EQ(h.Pens[4].Color, 0xC0C000u);  // pens 0..4 were read
  EXPECT_EQ(h.Pens[4].Width, 1u);
  EXPECT_EQ(h.Pens[5].Color, 0u);
  EXPECT_EQ(h.LineTypes[0].Pattern, 0u);  // Line, MOJI and Printer were not
  EXPECT_EQ(h.TextKinds[0].Width, 0.0);
  EXPECT_EQ(h.Switches[6], 0u);
  EXPECT_EQ(h.GridMinimum, 15.0);  // what came before stays
}

TEST_F(JwCadSettingsTest, MalformedValuesThatHaveNoDefault) {
  for (auto [key, name, value] :
       {std::tuple{"Pen", "Width03", "wide"}, std::tuple{"Line", "Type_04", "xyz"},
        std::tuple{"Hikage", "MSize", "0"}}) {  // a DWORD stored as text
    s = JwCadSettingsMap::FromRegFile(kData + "user.reg");
    s.SetString(key, name, value);
    EXPECT_THROW(ReadJwCadSettings(s, h, x), Error) << name;
  }
}

TEST_F(JwCadSettingsTest, InitHeaderDefaultsKeepsOnlyTheRegistryItems) {
  s.SetString("Mesh", "Minimum", "12.5");
  s.SetString("Pen", "Color02", "123456");
  InitHeaderDefaults(h, &s, x);
  EXPECT_EQ(h.GridMinimum, 12.5);
  EXPECT_EQ(h.Pens[2].Color, 0u);  // the fixed value, not the registry's
  EXPECT_EQ(h.Memo, "_");
  EXPECT_EQ(h.LayerGroups[3].GroupScale, 500.0);
}

}  // namespace
}  // namespace kestrova
