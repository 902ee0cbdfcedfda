#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <variant>

#include "app/messages.h"
#include "common/error.h"
#include "common/parallel.h"
#include "jww/archive.h"

#include "cli/commands.h"
#include "cli/files.h"
#include "common/number_text.h"
#include "common/sjis.h"
#include "common/spill_file.h"
#include "common/utf8_path.h"
#include "jww/header.h"
#include "jww/jww_file.h"

namespace kestrova::cli {

namespace {

const char* const kPaperNames[] = {"A-0", "A-1", "A-2", "A-3", "A-4", "2A", "3A", "4A", "5A"};

// A text made at a cursor in a buffer that is kept from batch to batch: a field makes
// room for its longest form once and is written straight in, rather than growing a string
// piece by piece (a dump's text is made of some fifty million fields).
class Text {
 public:
  char* Room(size_t n) {
    if (bytes_.size() - used_ < n) bytes_.resize(std::max(bytes_.size() * 2, used_ + n));
    return bytes_.data() + used_;
  }
  void To(const char* end) { used_ = static_cast<size_t>(end - bytes_.data()); }
  void Put(std::string_view s) { To(std::copy(s.begin(), s.end(), Room(s.size()))); }
  std::string_view View() const { return {bytes_.data(), used_}; }
  // Empty again; a buffer grown large by a long text is let go.
  void Clear() {
    used_ = 0;
    if (bytes_.size() > kMostKept) std::string().swap(bytes_);
  }

 private:
  static constexpr size_t kMostKept = size_t{4} << 20;
  std::string bytes_;  // its size is the room; the text is its first used_ bytes
  size_t used_ = 0;
};

// The bytes utf8 takes quoted: a quote or backslash escaped takes two, a control
// character six (\u00xx), and the quotes two.
size_t QuotedSize(std::string_view utf8) {
  size_t size = utf8.size() + 2;
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20) {
      size += 5;
    } else if (c == '"' || c == '\\') {
      size += 1;
    }
  }
  return size;
}

char* PutQuoted(char* t, std::string_view utf8) {
  *t++ = '"';
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != '"' && c != '\\') {
      *t++ = ch;
    } else if (c == '"' || c == '\\') {
      *t++ = '\\';
      *t++ = ch;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      t = std::copy_n("\\u00", 4, t);
      *t++ = kHex[c >> 4];
      *t++ = kHex[c & 15];
    }
  }
  *t++ = '"';
  return t;
}

// Writes "name value" pairs as text ("a=1 b=2") or as a JSON object straight into a
// text: millions of entities are printed, and nothing is made of them but their text.
class Fields {
 public:
  explicit Fields(bool json) : json_(json), out_(own_) {}
  Fields(bool json, Text& out) : json_(json), out_(out) {}

  Fields& Num(std::string_view name, double v) {
    char* t = Name(out_.Room(NameRoom(name) + kMostGeneral), name);
    out_.To(json_ && !std::isfinite(v) ? std::copy_n("null", 4, t) : PutGeneral(t, v));
    return *this;
  }
  Fields& Int(std::string_view name, int64_t v) {
    constexpr size_t kMostInt = 20;  // -9223372036854775808
    char* t = Name(out_.Room(NameRoom(name) + kMostInt), name);
    out_.To(std::to_chars(t, t + kMostInt, v).ptr);
    return *this;
  }
  Fields& Str(std::string_view name, std::string_view cp932) {
    // Every text entity names its font, nearly always the same one: converted once.
    std::string_view utf8 = cp932;  // the same when it is all ASCII
    if (!std::all_of(cp932.begin(), cp932.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      thread_local std::string lastCp932;
      thread_local std::string lastUtf8;
      if (cp932 != lastCp932) {
        lastUtf8 = Cp932ToUtf8(cp932);
        lastCp932 = cp932;
      }
      utf8 = lastUtf8;
    }
    char* t = Name(out_.Room(NameRoom(name) + QuotedSize(utf8)), name);
    out_.To(PutQuoted(t, utf8));
    return *this;
  }
  // Closes the object (JSON).
  void End() {
    if (!json_) return;
    out_.Put(first_ ? "{}" : "}");
  }
  // Closed, for fields gathered in their own text.
  std::string Render() {
    End();
    return std::string(own_.View());
  }

  static std::string Quote(std::string_view utf8) {
    std::string out(QuotedSize(utf8), '\0');
    PutQuoted(out.data(), utf8);
    return out;
  }

 private:
  // The names are this program's own words, with nothing to escape.
  static size_t NameRoom(std::string_view name) { return name.size() + 4; }
  char* Name(char* t, std::string_view name) {
    if (json_) {
      *t++ = first_ ? '{' : ',';
      *t++ = '"';
    } else if (!first_) {
      *t++ = ' ';
    }
    t = std::copy(name.begin(), name.end(), t);
    if (json_) {
      *t++ = '"';
      *t++ = ':';
    } else {
      *t++ = '=';
    }
    first_ = false;
    return t;
  }

  bool json_;
  Text own_;
  Text& out_;
  bool first_ = true;
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

// One entity's line (without its line end): the class name and fields, or an object.
template <class E>
void AppendEntity(Text& out, EntityClass c, const E& e, bool json) {
  Fields f(json, out);
  if (json) {
    f.Str("class", ArchiveClassName(c));
  } else {
    out.Put(ArchiveClassName(c));
    out.Put(" ");
  }
  Describe(f, e);
  f.End();
}

// Prints each entity as it is read: neither the drawing nor its text is ever held whole.
// The entities are gathered a few thousand at a time and their lines made on every core
// while the lines made before are printed and the reader reads on.
class Printer : public EntityListVisitor {
 public:
  Printer(bool json, std::ostream& out) : json_(json), out_(out) { batch_.reserve(kBatch); }
  ~Printer() override {
    for (Aside<void>& batch : handed_)
      batch.wait();
  }

  void Entity(BlockMember& m) override {
    std::visit([&](auto&& e) { batch_.push_back(Item{std::move(e), inDefinition_}); }, m);
    if (batch_.size() == kBatch) Hand();
  }
  void Definition(TDataList& definition) override {
    batch_.push_back(Item{std::move(definition), false});
    if (batch_.size() == kBatch) Hand();
    inDefinition_ = true;
  }
  void EndDefinition() override { inDefinition_ = false; }

  // Prints everything gathered.
  void Flush() {
    Hand();
    while (!handed_.empty()) {
      handed_.front().get();
      handed_.pop_front();
    }
  }

 private:
  static constexpr size_t kBatch = 8'192;
  static constexpr size_t kParts = 8;
  static constexpr size_t kMostHanded = 2;  // one being printed, one being made
  using Entry = std::variant<TDataSen, TDataEnko, TDataTen, TDataMoji, TDataSunpou, TDataSolid,
                             TDataBlock, TDataList>;
  struct Item {
    Entry entity;
    bool member = false;  // of a block definition: indented in text
  };
  // A batch in hand: its entities and their texts. The two are used in turn, and kept
  // with their room: fresh ones were some 5 MB a batch to fault in.
  struct Slot {
    std::vector<Item> items;
    std::array<Text, kParts> texts;
  };

  // The gathered entities' lines are made on their own, then printed once those handed
  // before are printed.
  void Hand() {
    if (batch_.empty()) return;
    while (handed_.size() >= kMostHanded) {
      handed_.front().get();
      handed_.pop_front();
    }
    // The batch that had this slot is printed, and its entities let go.
    Slot* slot = &slots_[handedCount_++ % kMostHanded];
    slot->items.swap(batch_);
    batch_.reserve(kBatch);
    const bool first = first_;
    first_ = false;
    Aside<void> before = handed_.empty() ? Aside<void>() : handed_.back();
    // The task lets go of the batch before it once run: a finished task's state keeps
    // what it captured, and would keep the whole chain.
    // Moved in: a handle left here would wait for that batch as this function ends.
    handed_.push_back(RunAside([this, slot, first, before = std::move(before)]() mutable {
      Make(slot->items, first, slot->texts);
      slot->items.clear();
      Aside<void> previous = std::exchange(before, {});
      if (previous.valid()) previous.get();  // its failure is this one's too
      Write(slot->texts);
    }));
  }
  void Write(const std::array<Text, kParts>& texts) {
    for (const Text& text : texts)
      out_.write(text.View().data(), static_cast<std::streamsize>(text.View().size()));
    CheckWritten(out_, "standard output");  // a full disk stops the printing at once
  }
  void Make(const std::vector<Item>& items, bool first, std::array<Text, kParts>& texts) const {
    InShares(items.size(), kParts, [&](size_t part, size_t begin, size_t end) {
      Text& text = texts[part];
      text.Clear();
      for (size_t i = begin; i < end; ++i) {
        // The first line of all has no separator before it.
        if (json_) text.Put(first && i == 0 ? "\n" : ",\n");
        if (!json_ && items[i].member) text.Put("  ");
        AppendItem(text, items[i].entity);
        if (!json_) text.Put("\n");
      }
    });
  }
  void AppendItem(Text& text, const Entry& e) const {
    // The alternatives are in the order of the classes.
    std::visit(
        [&](const auto& x) { AppendEntity(text, static_cast<EntityClass>(e.index()), x, json_); },
        e);
  }

  bool json_;
  std::ostream& out_;
  bool first_ = true;
  bool inDefinition_ = false;
  std::vector<Item> batch_;
  std::deque<Aside<void>> handed_;  // in the order they print
  std::array<Slot, kMostHanded> slots_;
  size_t handedCount_ = 0;
};

// Takes what it is handed and keeps nothing: the whole drawing is read once before any
// of it is printed, so that a damaged one prints nothing.
class Checker : public EntityListVisitor {
 public:
  void Entity(BlockMember&) override {}
  void Definition(TDataList&) override {}
  void EndDefinition() override {}
};

// A drawing to be read more than once: a file from the disk each time, a little at a
// time; standard input, a pipe or a device read once into a temporary file (a drawing
// may run to gigabytes).
class DrawingInput {
 public:
  explicit DrawingInput(const std::string& file) : file_(file), name_(InputName(file)) {
    std::error_code ec;
    if (file == kStandardStream || !std::filesystem::is_regular_file(Utf8Path(file), ec)) {
      // Bytes that do not begin as a drawing does are not kept beyond their beginning,
      // which the reader refuses (a device of zeros would fill the disk).
      std::string head;
      spool_ = SpoolInput(file, [&head](std::string_view piece) {
        head += piece.substr(0, kJwwSignature.size() - head.size());
        return head.size() < kJwwSignature.size() ? kJwwSignature.starts_with(head)
                                                  : head == kJwwSignature;
      });
      return;
    }
    // A file that cannot be opened gets the message a whole read gives.
    if (!std::ifstream(Utf8Path(file), std::ios::binary).is_open()) ReadInput(file);
  }

  InStream Open() {
    if (spool_) {
      spool_->Rewind();
      return InStream([this](char* to, size_t n) { return spool_->ReadSome(to, n); },
                      spool_->Size());
    }
    auto in = std::make_shared<std::ifstream>(Utf8Path(file_), std::ios::binary);
    if (!in->is_open()) throw Error(MessageId::kFileReadFailed, {name_});
    in->seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in->tellg());
    in->seekg(0);
    return InStream(
        [in, this](char* to, size_t n) {
          in->read(to, static_cast<std::streamsize>(n));
          if (in->bad()) throw Error(MessageId::kFileReadFailed, {name_});
          return static_cast<size_t>(in->gcount());
        },
        size);
  }
  const std::string& Name() const { return name_; }

 private:
  std::string file_;
  std::string name_;
  std::unique_ptr<SpillFile> spool_;
};

void PrintHeader(const JwwHeader& h, uint32_t entityCount, bool json, std::ostream& out) {
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
        << ",\"text_kinds\":[" << kinds << "],\"entity_count\":" << entityCount
        << ",\"entities\":[";
    return;
  }
  out << "version: " << h.Version << '\n'
      << "paper: " << paper << '\n'
      << "write group: " << h.WriteLayerGroup << '\n'
      << "group scales: " << scales << '\n'
      << "grid: minimum " << FormatGeneral(h.GridMinimum) << ", interval "
      << FormatGeneral(h.GridIntervalX) << " x " << FormatGeneral(h.GridIntervalY) << '\n'
      << kinds << "entities: " << entityCount << '\n';
}

}  // namespace

int RunDump(const std::string& file, bool json, std::ostream& out) {
  DrawingInput input(file);
  {
    InStream in = input.Open();
    Checker checker;
    VisitJwwDrawing(
        in, input.Name(), [](const JwwHeader&, uint32_t) {}, checker);
  }
  InStream in = input.Open();
  Printer printer(json, out);
  VisitJwwDrawing(
      in, input.Name(),
      [&](const JwwHeader& h, uint32_t count) { PrintHeader(h, count, json, out); }, printer);
  printer.Flush();
  if (json) out << "\n]}\n";
  return 0;
}

}  // namespace kestrova::cli
