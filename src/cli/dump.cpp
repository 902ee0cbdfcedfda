#include <cmath>
#include <sstream>

#include "cli/commands.h"
#include "cli/files.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/utf8_path.h"
#include "jww/jww_file.h"

namespace kestrova::cli {

namespace {

const char* const kPaperNames[] = {"A-0", "A-1", "A-2", "A-3", "A-4", "2A", "3A", "4A", "5A"};

// Collects "name value" pairs and prints them as text or as a JSON object.
class Fields {
 public:
  explicit Fields(bool json) : json_(json) {}

  Fields& Num(const char* name, double v) {
    std::string text = json_ && !std::isfinite(v) ? "null" : FormatGeneral(v);
    items_.emplace_back(name, text);
    return *this;
  }
  Fields& Int(const char* name, int64_t v) {
    items_.emplace_back(name, std::to_string(v));
    return *this;
  }
  Fields& Str(const char* name, std::string_view cp932) {
    items_.emplace_back(name, Quote(Cp932ToUtf8(cp932)));
    return *this;
  }
  Fields& Raw(const char* name, std::string text) {
    items_.emplace_back(name, std::move(text));
    return *this;
  }

  std::string Render() const {
    std::string out = json_ ? "{" : "";
    for (size_t i = 0; i < items_.size(); ++i) {
      if (i > 0) out += json_ ? "," : " ";
      if (json_) {
        out += Quote(items_[i].first) + ":" + items_[i].second;
      } else {
        out += items_[i].first + "=" + items_[i].second;
      }
    }
    if (json_) out += "}";
    return out;
  }

  static std::string Quote(std::string_view utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        default:
          if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
          } else {
            out += static_cast<char>(c);
          }
      }
    }
    return out + "\"";
  }

 private:
  bool json_;
  std::vector<std::pair<std::string, std::string>> items_;
};

void Attributes(Fields& f, const TJwData& e) {
  f.Int("group", e.Group)
      .Int("style", e.PenStyle)
      .Int("colour", e.PenColor)
      .Int("width", e.PenWidth)
      .Int("layer", e.Layer)
      .Int("layer_group", e.LayerGroup)
      .Int("flags", e.Flags);
}

void Describe(Fields& f, const TDataSen& e) {
  Attributes(f, e);
  f.Num("x1", e.StartX).Num("y1", e.StartY).Num("x2", e.EndX).Num("y2", e.EndY);
}
void Describe(Fields& f, const TDataEnko& e) {
  Attributes(f, e);
  f.Num("cx", e.CenterX)
      .Num("cy", e.CenterY)
      .Num("radius", e.Radius)
      .Num("start", e.StartAngle)
      .Num("arc", e.ArcAngle)
      .Num("tilt", e.TiltAngle)
      .Num("flatness", e.Flatness)
      .Int("full", e.FullCircle);
}
void Describe(Fields& f, const TDataTen& e) {
  Attributes(f, e);
  f.Num("x", e.X).Num("y", e.Y).Int("temporary", e.IsTemporary);
  if (e.PenStyle == 100)
    f.Int("code", e.Code).Num("rotation", e.RotationAngle).Num("scale", e.Scale);
}
void Describe(Fields& f, const TDataMoji& e) {
  Attributes(f, e);
  f.Num("x1", e.StartX)
      .Num("y1", e.StartY)
      .Num("x2", e.EndX)
      .Num("y2", e.EndY)
      .Int("kind", e.TextKind)
      .Num("size_x", e.SizeX)
      .Num("size_y", e.SizeY)
      .Num("spacing", e.Spacing)
      .Num("angle", e.Angle)
      .Str("font", e.FontName)
      .Str("text", e.Text);
}
void Describe(Fields& f, const TDataSunpou& e) {
  Describe(f, e.Line);
  f.Str("label", e.Label.Text).Num("label_x", e.Label.StartX).Num("label_y", e.Label.StartY);
}
void Describe(Fields& f, const TDataSolid& e) {
  Attributes(f, e);
  f.Num("x1", e.X1).Num("y1", e.Y1).Num("x2", e.X2).Num("y2", e.Y2);
  f.Num("x3", e.X3).Num("y3", e.Y3).Num("x4", e.X4).Num("y4", e.Y4);
  if (e.PenColor == 10) f.Int("rgb", e.Color);
}
void Describe(Fields& f, const TDataBlock& e) {
  Attributes(f, e);
  f.Num("x", e.X).Num("y", e.Y).Num("scale_x", e.ScaleX).Num("scale_y", e.ScaleY);
  f.Num("rotation", e.Rotation).Int("block", e.BlockNumber);
}
void Describe(Fields& f, const TDataList& e) {
  Attributes(f, e);
  f.Int("number", e.Number).Str("name", e.Name).Int("members", e.MemberCount);
}

template <class E>
std::string Entity(EntityClass c, const E& e, bool json) {
  Fields f(json);
  if (json) f.Raw("class", Fields::Quote(ArchiveClassName(c)));
  Describe(f, e);
  return json ? f.Render() : std::string(ArchiveClassName(c)) + " " + f.Render();
}

std::string Member(const BlockMember& m, bool json) {
  return std::visit(
      [&](const auto& e) { return Entity(static_cast<EntityClass>(m.index()), e, json); }, m);
}

// Prints each entity as it comes: the text of a large drawing is several times its
// size and is never held whole.
void PrintEntities(const JwwDocument& doc, bool json, std::ostream& out) {
  std::array<size_t, kEntityClassCount> next{};
  bool first = true;
  const auto print = [&](const std::string& line) {
    if (json) out << (first ? "\n" : ",\n");
    out << line;
    if (!json) out << '\n';
    first = false;
    CheckWritten(out, "standard output");  // a full disk stops the printing at once
  };
  for (EntityClass c : doc.EntityOrder) {
    size_t& i = next[static_cast<size_t>(c)];
    switch (c) {
      case EntityClass::kSen:
        print(Entity(c, doc.SenList[i++], json));
        break;
      case EntityClass::kEnko:
        print(Entity(c, doc.EnkoList[i++], json));
        break;
      case EntityClass::kTen:
        print(Entity(c, doc.TenList[i++], json));
        break;
      case EntityClass::kMoji:
        print(Entity(c, doc.MojiList[i++], json));
        break;
      case EntityClass::kSunpou:
        print(Entity(c, doc.SunpouList[i++], json));
        break;
      case EntityClass::kSolid:
        print(Entity(c, doc.SolidList[i++], json));
        break;
      case EntityClass::kBlock:
        print(Entity(c, doc.BlockList[i++], json));
        break;
      case EntityClass::kList: {
        const size_t d = i++;
        print(Entity(c, doc.BlockDefList[d], json));
        for (const BlockMember& m : doc.BlockBodies[d]) {
          print(json ? Member(m, json) : "  " + Member(m, json));
        }
        break;
      }
    }
  }
}

}  // namespace

int RunDump(const std::string& file, bool json, std::ostream& out) {
  const JwwDocument doc = ReadJwwDrawing(ReadInput(file), InputName(file));
  const JwwHeader& h = doc.Header;

  std::string scales;
  std::string kinds;
  for (size_t g = 0; g < 16; ++g) {
    const double scale = h.LayerGroups[g].GroupScale;
    scales += (g ? (json ? "," : " ") : "") +
              (json && !std::isfinite(scale) ? std::string("null") : FormatGeneral(scale));
  }
  for (size_t k = 0; k < 10; ++k) {
    const JwwTextKind& t = h.TextKinds[k];
    if (json) {
      kinds += (k ? "," : "") + Fields(true)
                                    .Num("width", t.Width)
                                    .Num("height", t.Height)
                                    .Num("spacing", t.Spacing)
                                    .Int("colour", t.Color)
                                    .Render();
    } else {
      kinds += "text kind " + std::to_string(k + 1) + ": " + FormatGeneral(t.Width) + " x " +
               FormatGeneral(t.Height) + ", spacing " + FormatGeneral(t.Spacing) + ", colour " +
               std::to_string(t.Color) + "\n";
    }
  }
  const std::string paper =
      h.PaperSize < std::size(kPaperNames) ? kPaperNames[h.PaperSize] : std::to_string(h.PaperSize);

  if (json) {
    out << "{\"version\":" << h.Version << ",\"paper\":" << Fields::Quote(paper)
        << ",\"paper_index\":" << h.PaperSize << ",\"write_group\":" << h.WriteLayerGroup
        << ",\"group_scales\":[" << scales << "],\"grid\":"
        << Fields(true)
               .Num("minimum", h.GridMinimum)
               .Num("interval_x", h.GridIntervalX)
               .Num("interval_y", h.GridIntervalY)
               .Render()
        << ",\"text_kinds\":[" << kinds << "],\"entity_count\":" << doc.EntityListCount
        << ",\"entities\":[";
    PrintEntities(doc, json, out);
    out << "\n]}\n";
    return 0;
  }
  out << "version: " << h.Version << '\n'
      << "paper: " << paper << '\n'
      << "write group: " << h.WriteLayerGroup << '\n'
      << "group scales: " << scales << '\n'
      << "grid: minimum " << FormatGeneral(h.GridMinimum) << ", interval "
      << FormatGeneral(h.GridIntervalX) << " x " << FormatGeneral(h.GridIntervalY) << '\n'
      << kinds << "entities: " << doc.EntityListCount << '\n';
  PrintEntities(doc, json, out);
  return 0;
}

}  // namespace kestrova::cli
